// Start-up time of the client: from starting the process to its root window
// shown, every page built, offscreen, each run in fresh temporary home and
// XDG folders; beside it, measured the same way in the same run, a plain Qt
// Widgets window of the same size (this program with --plain-window), so the
// ratio can be compared across machines. Runs alternate (client, plain,
// plain, client, ...) so a drift of the machine's load falls on both.
//
// "Shown" is detected through the single-instance channel: a primary only
// answers a message from inside its event loop, which start-up enters right
// after showing the window. The breakdown comes from the client's own
// start-up log ("varnel.startup", see app/startuptimes.h); "before main" is
// the time from starting the process to main being entered, on the same
// steady clock. CPU is the time the process spent on a processor until it
// answered: less sensitive to what else the machine runs than the wall time.

#include "app/singleinstance.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>
#include <QWidget>

#include <algorithm>
#include <chrono>

namespace {

constexpr int kDefaultRuns = 10;
constexpr int kTimeoutMs = 20000;

qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QString loadAverage()
{
    QFile load(QStringLiteral("/proc/loadavg"));
    return load.open(QIODevice::ReadOnly) ? QString::fromLatin1(load.readAll().split(' ').mid(0, 3).join(' '))
                                          : QStringLiteral("unknown");
}

double median(QVector<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const int n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Time on a processor of every thread of the process so far (ms).
double cpuMs(qint64 pid)
{
    double total = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(task + "/schedstat"));
        if (stat.open(QIODevice::ReadOnly))
            total += stat.readAll().split(' ').value(0).toDouble() / 1e6;
    }
    return total;
}

struct Run {
    double wallMs = -1;
    double cpuMs = -1;
    QMap<QString, double> parts;   // breakdown, client runs only
};

// The client's start-up log: "entered <ns>", "step <name> <ms>", "painted <ms>".
QMap<QString, double> breakdown(const QString &logFile, qint64 startedNs, double wallMs, QStringList *order)
{
    QFile log(logFile);
    QMap<QString, double> parts;
    if (!log.open(QIODevice::ReadOnly))
        return parts;
    static const QRegularExpression line(
        QStringLiteral("^varnel\\.startup: (entered|step|pictures|painted) (.*?) ?([0-9.]+)$"));
    double steps = 0;
    double painted = -1;
    for (const QByteArray &raw : log.readAll().split('\n')) {
        const QRegularExpressionMatch m = line.match(QString::fromUtf8(raw).trimmed());
        if (!m.hasMatch())
            continue;
        const QString kind = m.captured(1);
        if (kind == QLatin1String("entered")) {
            parts.insert(QStringLiteral("before main (loading libraries)"),
                         (m.captured(3).toLongLong() - startedNs) / 1e6);
        } else if (kind == QLatin1String("step")) {
            const QString name = m.captured(2);
            parts.insert(name, m.captured(3).toDouble());
            steps += m.captured(3).toDouble();
            if (!order->contains(name))
                order->append(name);
        } else if (kind == QLatin1String("pictures")) {
            parts.insert(QStringLiteral("pictures drawn (within the above)"), m.captured(3).toDouble());
        } else {
            painted = m.captured(3).toDouble();
        }
    }
    if (painted >= 0)
        parts.insert(QStringLiteral("first paint"), painted - steps);
    const double before = parts.value(QStringLiteral("before main (loading libraries)"));
    parts.insert(QStringLiteral("rest (to the answer)"), wallMs - before - std::max(painted, steps));
    return parts;
}

// One start; wall and CPU time until the window is up (negative on failure).
Run timeOneStart(const QString &program, const QStringList &arguments, bool withLog, QStringList *order)
{
    QTemporaryDir root;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *sub : {"home", "config", "data", "runtime"})
        QDir(root.path()).mkpath(QLatin1String(sub));
    QFile::setPermissions(root.path() + "/runtime", QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                         | QFileDevice::ExeOwner);
    env.insert("HOME", root.path() + "/home");
    env.insert("XDG_CONFIG_HOME", root.path() + "/config");
    env.insert("XDG_DATA_HOME", root.path() + "/data");
    env.insert("XDG_RUNTIME_DIR", root.path() + "/runtime");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    if (withLog)
        env.insert("QT_LOGGING_RULES", "varnel.startup.info=true");

    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(root.path());
    process.setStandardOutputFile(QProcess::nullDevice());
    const QString logFile = root.filePath("start.log");
    process.setStandardErrorFile(withLog ? logFile : QProcess::nullDevice());

    const QString socket = Varnel::SingleInstance::socketPath(root.path() + "/runtime");
    Run run;
    QElapsedTimer clock;
    const qint64 startedNs = steadyNs();
    clock.start();
    process.start(program, arguments);
    const bool up = process.waitForStarted(kTimeoutMs)
        && Varnel::sendInstanceMessage(socket, QStringLiteral("Wake up!"), kTimeoutMs);
    const double wall = clock.nsecsElapsed() / 1e6;
    if (up) {
        run.wallMs = wall;
        run.cpuMs = cpuMs(process.processId());
    }

    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
    if (up && withLog)
        run.parts = breakdown(logFile, startedNs, wall, order);
    return run;
}

// The reference: a plain window of the client's size with the same
// single-instance channel, and nothing else.
int plainWindow(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_DisableHighDpiScaling, true);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    QApplication app(argc, argv);
    Varnel::SingleInstance instance;
    QWidget window;
    window.setFixedSize(1080, 740);
    window.show();
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "--plain-window") == 0)
        return plainWindow(argc, argv);

    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int runs = kDefaultRuns;
    if (args.size() >= 2 && args.first() == QLatin1String("--runs")) {
        runs = std::max(1, args.at(1).toInt());
        args = args.mid(2);
    }
    const QString program = args.value(0, QStringLiteral(VARNELVPN_EXECUTABLE));

    QTextStream out(stdout);
    out << "start-up of " << program << " to its window shown, offscreen, " << runs
        << " runs each, beside a plain Qt window (ms); load average " << loadAverage() << "\n";
    out.flush();

    QStringList order;
    // Warm the file cache; not counted.
    timeOneStart(program, {}, false, &order);
    timeOneStart(app.applicationFilePath(), {QStringLiteral("--plain-window")}, false, &order);

    QVector<double> wall, cpu, plainWall, plainCpu;
    QMap<QString, QVector<double>> parts;
    for (int i = 0; i < 2 * runs; ++i) {
        const bool client = (i % 2 == 0) == ((i / 2) % 2 == 0);
        const Run run = client ? timeOneStart(program, {}, true, &order)
                               : timeOneStart(app.applicationFilePath(), {QStringLiteral("--plain-window")}, false,
                                              &order);
        if (run.wallMs < 0) {
            out << (client ? "the client" : "the plain window") << " did not answer within " << kTimeoutMs
                << " ms\n";
            return 1;
        }
        (client ? wall : plainWall).append(run.wallMs);
        (client ? cpu : plainCpu).append(run.cpuMs);
        for (auto it = run.parts.cbegin(); it != run.parts.cend(); ++it)
            parts[it.key()].append(it.value());
        out << "run " << i / 2 + 1 << (client ? " client: " : " plain window: ") << QString::number(run.wallMs, 'f', 1)
            << " (CPU " << QString::number(run.cpuMs, 'f', 1) << ")\n";
        out.flush();
    }

    const auto ms = [](double v) { return QString::number(v, 'f', 1); };
    out << "median: client " << ms(median(wall)) << " ms (CPU " << ms(median(cpu)) << "), plain Qt window "
        << ms(median(plainWall)) << " ms (CPU " << ms(median(plainCpu)) << "): ratio "
        << QString::number(median(wall) / median(plainWall), 'f', 2) << " (CPU "
        << QString::number(median(cpu) / median(plainCpu), 'f', 2) << ")\n";
    out << "load average now " << loadAverage() << "\n";
    out << "client's breakdown, median of each part (ms):\n";
    QStringList names{QStringLiteral("before main (loading libraries)")};
    names << order << QStringLiteral("first paint") << QStringLiteral("rest (to the answer)")
          << QStringLiteral("pictures drawn (within the above)");
    for (const QString &name : names) {
        if (parts.contains(name))
            out << "  " << qSetFieldWidth(34) << Qt::left << name << qSetFieldWidth(0) << ms(median(parts.value(name)))
                << "\n";
    }
    return 0;
}
