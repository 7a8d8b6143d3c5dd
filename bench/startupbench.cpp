// Start-up time of the client: from starting the process to its root window
// being shown, offscreen, each run in fresh temporary home and XDG folders.
//
// "Shown" is detected through the program's own single-instance channel:
// the primary only answers a message from inside its event loop, which
// start-up enters right after showing the root window. The benchmark keeps
// connecting to the instance socket and counts the time until the answer
// arrives; nothing in the program exists for the benchmark's sake.

#include "app/singleinstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kRuns = 10;
constexpr int kTimeoutMs = 20000;

// One start; the milliseconds until the window is up, or -1.
double timeOneStart(const QString &program)
{
    QTemporaryDir root;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *sub : {"home", "config", "data", "runtime"}) {
        QDir(root.path()).mkpath(QLatin1String(sub));
    }
    QFile::setPermissions(root.path() + "/runtime", QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                         | QFileDevice::ExeOwner);
    env.insert("HOME", root.path() + "/home");
    env.insert("XDG_CONFIG_HOME", root.path() + "/config");
    env.insert("XDG_DATA_HOME", root.path() + "/data");
    env.insert("XDG_RUNTIME_DIR", root.path() + "/runtime");
    env.insert("QT_QPA_PLATFORM", "offscreen");

    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(root.path());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());

    const QString socket = Varnel::SingleInstance::socketPath(root.path() + "/runtime");
    QElapsedTimer clock;
    clock.start();
    process.start(program, QStringList());
    const bool up = process.waitForStarted(kTimeoutMs)
        && Varnel::sendInstanceMessage(socket, QStringLiteral("Wake up!"), kTimeoutMs);
    const double elapsed = clock.nsecsElapsed() / 1e6;

    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
    return up ? elapsed : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString program = args.size() > 1 ? args.at(1) : QStringLiteral(VARNELVPN_EXECUTABLE);

    QTextStream out(stdout);
    out << "start-up of " << program << ", " << kRuns << " runs (ms):\n";

    timeOneStart(program);   // warm the file cache; not counted

    QVector<double> times;
    for (int run = 1; run <= kRuns; ++run) {
        const double ms = timeOneStart(program);
        if (ms < 0) {
            out << "run " << run << ": no answer within " << kTimeoutMs << " ms\n";
            return 1;
        }
        out << "run " << run << ": " << QString::number(ms, 'f', 1) << "\n";
        out.flush();
        times << ms;
    }
    std::sort(times.begin(), times.end());
    const double median = (times.at(kRuns / 2 - 1) + times.at(kRuns / 2)) / 2;
    out << "median: " << QString::number(median, 'f', 1) << " ms\n";
    return 0;
}
