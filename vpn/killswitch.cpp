#include "vpn/killswitch.h"

#include "common/config.h"
#include "common/logger.h"
#include "platform/serviceclient.h"

#include <QDebug>

namespace Varnel {

namespace KillSwitch {

namespace {

void log(const QString &text)
{
    Logger::instance().log(text, 1, 4);
}

Outcome ask(bool on)
{
    ServiceProtocol::Message request("killswitch");
    request.add("state", on ? "on" : "off");
    QString error;
    const std::optional<ServiceProtocol::Message> reply = askService(request, &error);
    if (!reply) {
        log(QStringLiteral("Kill switch %1: %2").arg(stateText(on), error));
        return Outcome::Failed;
    }
    const QString message = QString::fromStdString(reply->value("message"));
    if (reply->verb != "ok") {
        const std::string code = reply->value("code");
        log(QStringLiteral("Kill switch %1 refused (%2): %3")
                .arg(stateText(on), QString::fromStdString(code), message));
        return code == "missing-script" ? Outcome::MissingScript : Outcome::Failed;
    }
    // Lifting ends only this user's hold: another user's kill switch may
    // keep the machine blocked, and says so.
    if (!message.isEmpty())
        log(QStringLiteral("Kill switch %1: %2").arg(stateText(on), message));
    return Outcome::Done;
}

} // namespace

Outcome runScript(Runner runner, bool enable)
{
    if (runner == Runner::ConnectPage && !enable) {
        log(QStringLiteral("Kill switch: the block stays for the attempt; only the chosen server is let through"));
        return Outcome::Done;
    }
    const Outcome outcome = ask(enable);
    if (runner == Runner::Toggle) {
        if (outcome == Outcome::Done)
            qDebug() << "bat file finished with exit code:" << 0;
        else
            qDebug() << "Error: bat file execution timed out or encountered an error.";
    }
    return outcome;
}

QString stateText(bool on)
{
    return on ? QStringLiteral("KillSwith:ON") : QStringLiteral("KillSwith:OFF");
}

bool toggle()
{
    const auto config = Config::instance();
    const bool on = !config->killSwitch();
    config->setKillSwitch(on);
    config->save();
    runScript(Runner::Toggle, on);
    config->save();
    return on;
}

void liftOnLogout()
{
    const auto config = Config::instance();
    const bool wasOn = config->killSwitch();
    config->setKillSwitch(false);
    config->save();
    if (wasOn)
        runScript(Runner::Toggle, false);
}

} // namespace KillSwitch

} // namespace Varnel
