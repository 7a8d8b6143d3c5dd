#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace Varnel {

// How a program run by ScriptRunner ended.
struct ScriptResult
{
    enum Outcome { Finished, FailedToStart, Crashed, TimedOut };

    Outcome outcome = FailedToStart;
    int exitCode = -1;              // valid for Finished
    QByteArray standardOutput;
    QByteArray standardError;

    bool succeeded() const { return outcome == Finished && exitCode == 0; }
};

// Runs an external program (ping) on the calling thread
// and waits for it, but never without limit: a program that overruns the
// bound is logged and killed together with everything it started, so a hung
// child cannot freeze the window for good. Nothing is written to the
// program; its input is at end of file from the start.
class ScriptRunner
{
public:
    static constexpr int kDefaultTimeoutMs = 60000;

    explicit ScriptRunner(int timeoutMs = kDefaultTimeoutMs)
        : m_timeoutMs(timeoutMs)
    {
    }

    ScriptResult run(const QString &program, const QStringList &arguments = QStringList()) const;

    int timeoutMs() const { return m_timeoutMs; }

private:
    int m_timeoutMs;
};

} // namespace Varnel
