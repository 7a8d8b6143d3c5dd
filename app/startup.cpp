#include "app/startup.h"

#include "app/firstpaint.h"
#include "app/fonts.h"
#include "app/rootwindow.h"
#include "app/singleinstance.h"
#include "app/startuptimes.h"
#include "app/windowgeometry.h"
#include "common/appinfo.h"
#include "common/config.h"
#include "common/gui/linkopener.h"
#include "common/gui/pagestyling.h"
#include "common/gui/pressable.h"
#include "common/gui/showmessage.h"
#include "common/logger.h"
#include "common/stylefonts.h"
#include "pages/connect/connectpage.h"
#include "platform/heaprelease.h"
#include "platform/terminationrequest.h"
#include "platform/urlscheme.h"
#include "vpn/openconnectconnection.h"

#include <QApplication>
#include <QDir>
#include <QFile>

#include <memory>

namespace Varnel {

namespace {

constexpr int kWakeUpTimeoutMs = 5000;

// The desktop entry's "Quit" action: the running instance quits as its
// tray's Quit would; with none running there is nothing to do. No window,
// no display and no cached reply are touched on the way.
int handOverQuit(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    SingleInstance instance;
    if (instance.isRunning())
        instance.sendMessage(QLatin1String(kQuitMessage), kWakeUpTimeoutMs);
    return 0;
}

// In a Wayland session the window is a Wayland client of its own: Qt 5
// would go through Xwayland unless told. X11 stays the fallback (no Wayland
// plugin, no compositor answering); a platform the user chose is kept.
void preferNativeWayland()
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return;
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && qgetenv("XDG_SESSION_TYPE") != "wayland")
        return;
    qputenv("QT_QPA_PLATFORM", "wayland;xcb");
}

} // namespace

bool isQuitRequest(int argc, char *argv[])
{
    return argc > 1 && qstrcmp(argv[1], kQuitArgument) == 0;
}

// Style sizes: 16 px becomes 14, 24 px becomes 22, every weight 500. Without
// the resource the program runs unstyled, silently.
void applyStyleSheet(QApplication &app)
{
    QFile style(QStringLiteral(":/style/style.qss"));
    if (!style.open(QIODevice::ReadOnly))
        return;
    const QByteArray rewritten = rewriteFonts(style.readAll(), 14, 22, 500);
    app.setStyleSheet(QString::fromLatin1(rewritten.constData()));   // up to the first zero byte
}

int runApplication(int argc, char *argv[])
{
    StartupTimes times;
    keepLargeBuffersApart();
    QCoreApplication::setAttribute(Qt::AA_DisableHighDpiScaling, true);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);

    QCoreApplication::setApplicationName(QLatin1String(kApplicationId));
    QCoreApplication::setApplicationVersion(applicationVersion());
    QCoreApplication::setOrganizationName(organizationName());

    if (isQuitRequest(argc, argv))
        return handOverQuit(argc, argv);

    preferNativeWayland();

    QApplication app(argc, argv);
    SingleInstance instance;

    QString launchMode = QStringLiteral("not");
    const QString executable = QDir::toNativeSeparators(QCoreApplication::applicationFilePath());

    // Every start, so a moved executable re-points the scheme.
    registerUrlScheme(executable);

    // The argument (e.g. a clicked link) only selects the mode; never read.
    if (argc > 1)
        launchMode = QStringLiteral("Yes");
    times.step("application");

    // Fonts and style sheet before the window: applied to a finished window,
    // the style sheet would style every widget of every page over again, and
    // a face looked up before its font is registered stays cached as the
    // fallback (DejaVu Sans) for good.
    QStringList fonts = montserratFonts();
    registerFonts(fonts);
    times.step("fonts");
    applyStyleSheet(app);
    times.step("style sheet");

    // Before the instance test: a second start with a link still empties
    // its own cached login reply.
    auto root = std::make_unique<RootWindow>(launchMode);
    times.step("window");

    if (instance.isRunning()) {
        instance.sendMessage(QLatin1String(kWakeUpMessage), kWakeUpTimeoutMs);
        return 0;
    }

    Logger::instance().log(QStringLiteral("Window system: %1").arg(QGuiApplication::platformName()), 1, 4);
    // Only a quit request ends the program; closing hides or minimises the window.
    app.setQuitOnLastWindowClosed(false);

    qRegisterMetaType<OpenConnectConnection::Status>("Status");

    const auto engine = OpenConnectConnection::instance();
    OpenConnectConnection::initTls();
    times.step("engine");

    Config::instance()->load();
    times.step("settings");

    // Links open through the desktop's opener; one that cannot says so.
    LinkOpener links;
    installKeyboardActivation();

    fixMainWindowGeometry(root.get());
    instance.setActivationWindow(root.get(), true);
    setMainWindow(root.get());

    QObject::connect(&instance, &SingleInstance::messageReceived, root.get(),
                     [window = root.get()](const QString &message) {
                         if (message == QLatin1String(kQuitMessage)) {
                             Logger::instance().log(QStringLiteral("Quit requested by another instance"), 1, 4);
                             window->requestQuit();
                             return;
                         }
                         window->show();
                         Logger::instance().log(
                             QStringLiteral("Message \"%1\" from another instance: window shown").arg(message), 1, 4);
                     });

    // A connect page that is never shown: it follows the tunnel like every
    // connect page does.
    auto hiddenConnectPage = std::make_unique<ConnectPage>();
    styleWhenShown(hiddenConnectPage.get());   // never shown: no style needed
    app.installEventFilter(hiddenConnectPage.get());
    times.step("hidden connect page");

    TerminationRequest termination;
    QObject::connect(&termination, &TerminationRequest::requested, root.get(), &RootWindow::endProgram);

    times.logFirstPaint(root.get());
    afterFirstPaint(root.get(), [] { releaseFontPages(); });
    root->show();
    times.step("show");

    const int exitCode = app.exec();

    Config::instance()->save();

    // Locals go in reverse order: the hidden connect page, fonts, root
    // window, the single-instance object, then the application.
    hiddenConnectPage.reset();
    return exitCode;
}

} // namespace Varnel
