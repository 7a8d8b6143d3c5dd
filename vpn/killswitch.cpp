#include "vpn/killswitch.h"

#include "common/config.h"
#include "common/fileutil.h"
#include "common/logger.h"
#include "platform/datadir.h"

#include <QDebug>
#include <QFileInfo>

namespace Varnel {

namespace KillSwitch {

namespace {

// Our scripts explain a failure on standard error; keep it for diagnosis.
void logFailure(const QString &path, const ScriptResult &result)
{
    if (result.succeeded())
        return;
    const QString reason = result.outcome == ScriptResult::Finished
        ? QStringLiteral("exit code %1").arg(result.exitCode)
        : result.outcome == ScriptResult::TimedOut ? QStringLiteral("timed out")
        : result.outcome == ScriptResult::Crashed  ? QStringLiteral("crashed")
                                                   : QStringLiteral("could not start");
    Logger::instance().log(QStringLiteral("Kill-switch script %1 failed (%2): %3")
                               .arg(path, reason, QString::fromLocal8Bit(result.standardError).trimmed()),
                           1, 4);
}

} // namespace

QString scriptPath(Runner runner, bool enable)
{
    const QString name = enable ? blockScriptName() : resetScriptName();
    if (runner == Runner::ConnectPage)
        return killSwitchDataDirectory() + name;
    return killSwitchDataDirectory() + QLatin1Char('/') + name;
}

std::optional<ScriptResult> runScript(Runner runner, bool enable)
{
    const QString path = scriptPath(runner, enable);
    if (runner == Runner::ConnectPage && !QFileInfo::exists(path))
        return std::nullopt;

    const ScriptResult result = ScriptRunner(ScriptRunner::kDefaultTimeoutMs, ScriptRunner::NetworkAdmin).run(path);
    logFailure(path, result);
    if (runner == Runner::Toggle) {
        if (result.outcome == ScriptResult::Finished)
            qDebug() << "bat file finished with exit code:" << result.exitCode;
        else
            qDebug() << "Error: bat file execution timed out or encountered an error.";
    }
    return result;
}

QString stateText(bool on)
{
    return on ? QStringLiteral("KillSwith:ON") : QStringLiteral("KillSwith:OFF");
}

void writeState(bool on)
{
    writeTextFile(stateText(on), killSwitchStateDirectory(), QStringLiteral("service.txt"));
}

bool toggle()
{
    const auto config = Config::instance();
    const bool on = !config->killSwitch();
    config->setKillSwitch(on);
    config->save();
    writeState(on);
    config->save();
    if (!config->connectionState())
        runScript(Runner::Toggle, on);
    return on;
}

void liftOnLogout()
{
    const auto config = Config::instance();
    const bool wasOn = config->killSwitch();
    config->setKillSwitch(false);
    config->save();
    if (!wasOn)
        return;
    // Otherwise a service reading the state file would keep blocking.
    writeState(false);
    runScript(Runner::Toggle, false);
}

} // namespace KillSwitch

} // namespace Varnel
