#include "app/startup.h"
#include "platform/privileges.h"

#include <QGuiApplication>

int main(int argc, char *argv[])
{
    if (!Varnel::Privileges::startedElevated())
        return Varnel::runApplication(argc, argv);

    // The installed client holds CAP_NET_ADMIN from a file capability. Its
    // caller chose the environment and the arguments, so before any thread,
    // library set-up or plugin: keep the capability out of reach (permitted
    // only), drop every variable that picks code or programs, and hand Qt no
    // caller's option (-platformpluginpath loads code). The program only
    // counts its arguments, so one fixed argument stands for a link, and
    // another for a quit request.
    const bool quit = Varnel::isQuitRequest(argc, argv);
    Varnel::Privileges::keepOnlyNetworkAdmin();
    Varnel::Privileges::restrictEnvironment();
    // No platform theme plugin: it would load toolkit modules named in the
    // user's own settings files.
    QGuiApplication::setDesktopSettingsAware(false);
    static char link[] = "varnelvpn:";
    static char quitArgument[sizeof Varnel::kQuitArgument];
    qstrcpy(quitArgument, Varnel::kQuitArgument);
    char *arguments[] = {argv[0], quit ? quitArgument : link, nullptr};
    return Varnel::runApplication(argc > 1 ? 2 : 1, arguments);
}
