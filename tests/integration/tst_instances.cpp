#include "app/singleinstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using Varnel::SingleInstance;

namespace {

const QString kProgram = QStringLiteral(VARNELVPN_EXECUTABLE);

// A user of its own: home, XDG folders and a working directory, all
// temporary. Every process started here runs as that user, offscreen.
class Sandbox
{
public:
    Sandbox()
    {
        for (const char *sub : {"home", "config", "data", "runtime", "work"})
            QDir(m_root.path()).mkpath(QLatin1String(sub));
        QFile::setPermissions(path("runtime"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    QString path(const char *sub) const { return m_root.path() + QLatin1Char('/') + QLatin1String(sub); }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), path("home"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path("config"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), path("data"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), path("runtime"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return env;
    }

    QString socketPath() const { return SingleInstance::socketPath(path("runtime")); }
    QString lockPath() const { return SingleInstance::lockPath(path("runtime")); }

private:
    QTemporaryDir m_root;
};

// One run of the program; collects what it writes to stderr (the log's
// debug echo) and ends it on destruction if it still runs.
class Instance
{
public:
    Instance(const Sandbox &sandbox, const QStringList &arguments = {}, const QString &program = kProgram,
             const QString &workDir = QString())
    {
        m_process.setProcessEnvironment(sandbox.environment());
        m_process.setWorkingDirectory(workDir.isEmpty() ? sandbox.path("work") : workDir);
        m_process.setProgram(program);
        m_process.setArguments(arguments);
        m_process.start();
        // Signals go only to a process known to be running.
        m_started = m_process.waitForStarted(5000);
    }
    ~Instance() { stop(); }

    bool started() const { return m_started; }
    bool running() const { return m_process.state() == QProcess::Running; }
    // Ended by itself, normally and with code 0, within the time.
    bool exitsCleanlyWithin(int ms)
    {
        return m_started && (!running() || m_process.waitForFinished(ms))
               && m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }
    bool finishesWithin(int ms) { return m_process.waitForFinished(ms); }

    QString errors()
    {
        m_errors += QString::fromLocal8Bit(m_process.readAllStandardError());
        return m_errors;
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            killHard();
    }
    void killHard()   // SIGKILL: nothing is cleaned up
    {
        m_process.kill();
        m_process.waitForFinished(3000);
    }

private:
    QProcess m_process;
    QString m_errors;
    bool m_started = false;
};

bool waitForPrimary(const Sandbox &sandbox, Instance &instance)
{
    return QTest::qWaitFor([&] { return !instance.running() || QFile::exists(sandbox.socketPath()); }, 10000)
        && instance.running();
}

// Asks the running primary to answer; only a primary whose event loop runs does.
bool answers(const Sandbox &sandbox)
{
    return Varnel::sendInstanceMessage(sandbox.socketPath(), QStringLiteral("Wake up!"), 5000);
}

// The value of key in a "key=value" text file, empty when absent.
QString valueIn(const QString &fileName, const QString &key)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    const QString prefix = key + QLatin1Char('=');
    for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size());
    }
    return QString();
}

// The Exec line of the desktop entry that handles the program's URL scheme.
QString schemeHandlerExec(const Sandbox &sandbox)
{
    const QString entry = valueIn(sandbox.path("config") + QStringLiteral("/mimeapps.list"),
                                  QStringLiteral("x-scheme-handler/varnelvpn"))
                              .section(QLatin1Char(';'), 0, 0);
    if (entry.isEmpty())
        return QString();
    return valueIn(sandbox.path("data") + QStringLiteral("/applications/") + entry, QStringLiteral("Exec"));
}

} // namespace

class TestInstances : public QObject
{
    Q_OBJECT
private slots:
    void secondStartHandsOverAndExits();
    void killedPrimaryDoesNotBlock();
    void simultaneousStartsGiveOnePrimary();
    void schemeFollowsTheExecutable();
};

void TestInstances::secondStartHandsOverAndExits()
{
    Sandbox sandbox;
    Instance primary(sandbox);
    QVERIFY(waitForPrimary(sandbox, primary));

    // Started with a link, in a folder of its own that holds a cached reply.
    const QString otherWork = sandbox.path("otherwork");
    QVERIFY(QDir().mkpath(otherWork));
    for (const QString &dir : {sandbox.path("work"), otherWork}) {
        QFile bundle(dir + QStringLiteral("/bundile"));
        QVERIFY(bundle.open(QIODevice::WriteOnly));
        bundle.write("{}");
    }

    QElapsedTimer clock;
    clock.start();
    Instance second(sandbox, {QStringLiteral("varnelvpn://open")}, kProgram, otherWork);
    QVERIFY(second.exitsCleanlyWithin(5000));
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!second.errors().contains(QLatin1String("window shown")));

    // The first one showed its window; the second emptied only its own cache.
    QTRY_VERIFY_WITH_TIMEOUT(primary.errors().contains(
                                 QLatin1String("Message \\\"Wake up!\\\" from another instance: window shown")),
                             5000);
    QVERIFY(primary.running());
    QCOMPARE(QFileInfo(otherWork + QStringLiteral("/bundile")).size(), 0);
    QCOMPARE(QFileInfo(sandbox.path("work") + QStringLiteral("/bundile")).size(), 2);
}

void TestInstances::killedPrimaryDoesNotBlock()
{
    Sandbox sandbox;
    {
        Instance first(sandbox);
        QVERIFY(waitForPrimary(sandbox, first));
        first.killHard();
    }
    QVERIFY(QFile::exists(sandbox.lockPath()));
    QVERIFY(QFile::exists(sandbox.socketPath()));

    Instance next(sandbox);
    QVERIFY(next.started());
    QVERIFY(!next.finishesWithin(1500));   // a secondary would be gone by now
    QVERIFY(answers(sandbox));
    QTRY_VERIFY_WITH_TIMEOUT(next.errors().contains(QLatin1String("window shown")), 5000);
}

void TestInstances::simultaneousStartsGiveOnePrimary()
{
    for (int round = 0; round < 3; ++round) {
        Sandbox sandbox;
        Instance a(sandbox);
        Instance b(sandbox);
        QVERIFY(a.started());
        QVERIFY(b.started());

        // Exactly one of them hands over and leaves; the other stays.
        QVERIFY2(QTest::qWaitFor([&] { return !a.running() || !b.running(); }, 8000) && a.running() != b.running(),
                 "both or none still running");
        Instance &primary = a.running() ? a : b;
        Instance &secondary = a.running() ? b : a;
        QVERIFY(secondary.exitsCleanlyWithin(1000));
        QVERIFY(!primary.finishesWithin(1000));
        QVERIFY(answers(sandbox));
        QTRY_VERIFY_WITH_TIMEOUT(primary.errors().contains(QLatin1String("window shown")), 5000);
    }
}

void TestInstances::schemeFollowsTheExecutable()
{
    Sandbox sandbox;
    Instance first(sandbox);
    QVERIFY(waitForPrimary(sandbox, first));
    const QString original = QFileInfo(kProgram).absoluteFilePath();
    // Start-up writes the entry after it takes the instance socket.
    QString exec;
    QTRY_VERIFY2_WITH_TIMEOUT((exec = schemeHandlerExec(sandbox)).contains(original), qPrintable(exec), 5000);
    QVERIFY(exec.endsWith(QLatin1String("%u")));

    // A copy elsewhere is the same program for the same user: it hands over
    // to the running one, but re-points the scheme on its way.
    const QString copy = sandbox.path("moved/varnelvpn");
    QVERIFY(QDir().mkpath(QFileInfo(copy).path()));
    QVERIFY(QFile::copy(kProgram, copy));
    QVERIFY(QFile::setPermissions(copy, QFile::permissions(kProgram)));

    Instance moved(sandbox, {}, copy);
    QVERIFY(moved.exitsCleanlyWithin(5000));
    QTRY_VERIFY_WITH_TIMEOUT(first.errors().contains(QLatin1String("window shown")), 5000);
    exec = schemeHandlerExec(sandbox);
    QVERIFY2(exec.contains(copy), qPrintable(exec));
    QVERIFY(!exec.contains(original));
}

QTEST_GUILESS_MAIN(TestInstances)
#include "tst_instances.moc"
