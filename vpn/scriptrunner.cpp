#include "vpn/scriptrunner.h"

#include "common/logger.h"

#include <QProcess>

#ifdef Q_OS_UNIX
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>
#endif

namespace Varnel {

namespace {

// The program leads a process group of its own, so that a time-out ends
// the commands a script started as well, not just the shell. It gains no
// privilege either: Debian's ping carries a file capability it does not
// need where ICMP sockets are open to users, and the client holds none.
class GroupLeaderProcess : public QProcess
{
protected:
    void setupChildProcess() override
    {
#ifdef Q_OS_UNIX
        ::setpgid(0, 0);
        ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
#endif
    }
};

void killGroup(QProcess &process)
{
#ifdef Q_OS_UNIX
    const qint64 pid = process.processId();
    // Never 0 or 1: kill(-0) would hit our own group, kill(-1) everything.
    if (pid > 1 && ::kill(-pid_t(pid), SIGKILL) == 0)
        return;
#endif
    process.kill();
}

} // namespace

ScriptResult ScriptRunner::run(const QString &program, const QStringList &arguments) const
{
    ScriptResult result;
    GroupLeaderProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(m_timeoutMs)) {
        result.standardError = process.errorString().toLocal8Bit();
        if (process.state() != QProcess::NotRunning) {
            killGroup(process);
            process.waitForFinished(5000);
        }
        return result;
    }

    const bool finished = process.waitForFinished(m_timeoutMs);
    if (!finished) {
        Logger::instance().log(QStringLiteral("%1 did not finish within %2 ms and was stopped")
                                   .arg(program)
                                   .arg(m_timeoutMs),
                               1, 4);
        killGroup(process);
        process.waitForFinished(5000);
    }
    result.standardOutput = process.readAllStandardOutput();
    result.standardError = process.readAllStandardError();
    if (!finished) {
        result.outcome = ScriptResult::TimedOut;
    } else if (process.exitStatus() == QProcess::CrashExit) {
        result.outcome = ScriptResult::Crashed;
    } else {
        result.outcome = ScriptResult::Finished;
        result.exitCode = process.exitCode();
    }
    return result;
}

} // namespace Varnel
