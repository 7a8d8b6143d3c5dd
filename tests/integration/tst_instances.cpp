#include "app/singleinstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

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
        for (const char *sub : {"home", "config", "data", "runtime", "work", "tmp"})
            QDir(m_root.path()).mkpath(QLatin1String(sub));
        QFile::setPermissions(path("runtime"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    QString path(const char *sub) const { return m_root.filePath(QLatin1String(sub)); }
    QString socketPath() const { return SingleInstance::socketPath(path("runtime")); }

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

private:
    QTemporaryDir m_root;
};

// One run of the program; collects what it writes to stderr (the log's
// debug echo) and ends it on destruction if it still runs.
class Instance : public QProcess
{
public:
    Instance(const QProcessEnvironment &environment, const QString &workDir, const QStringList &arguments = {},
             const QString &program = kProgram)
    {
        setProcessEnvironment(environment);
        setWorkingDirectory(workDir);
        start(program, arguments);
        // Signals go only to a process known to be running.
        m_started = waitForStarted(5000);
    }
    explicit Instance(const Sandbox &sandbox) : Instance(sandbox.environment(), sandbox.path("work")) {}
    ~Instance() override { stop(); }

    bool started() const { return m_started; }
    bool running() const { return state() == QProcess::Running; }
    // Ended by itself, normally and with code 0, within the time.
    bool exitsCleanlyWithin(int ms)
    {
        return m_started && (!running() || waitForFinished(ms)) && exitStatus() == NormalExit && exitCode() == 0;
    }
    QString errors()
    {
        m_errors += QString::fromLocal8Bit(readAllStandardError());
        return m_errors;
    }
    void stop()
    {
        terminate();
        if (running() && !waitForFinished(3000)) {
            kill();
            waitForFinished(3000);
        }
    }

private:
    QString m_errors;
    bool m_started = false;
};

bool waitForPrimary(const Sandbox &sandbox, Instance &instance)
{
    return QTest::qWaitFor([&] { return !instance.running() || QFile::exists(sandbox.socketPath()); }, 10000)
        && instance.running();
}

// What a shell command prints, run in folder.
QString out(const QString &command, const QString &folder = QString(), const QStringList &arguments = {})
{
    QProcess shell;
    shell.setWorkingDirectory(folder);
    shell.start(QStringLiteral("sh"), QStringList {QStringLiteral("-c"), command, QStringLiteral("sh")} + arguments);
    shell.waitForFinished(5000);
    return QString::fromUtf8(shell.readAll());
}

// The Exec line of the desktop entry that handles the program's URL scheme.
QString schemeHandlerExec(const Sandbox &sandbox)
{
    return out(QStringLiteral("entry=$(sed -n 's|^x-scheme-handler/varnelvpn=\\([^;]*\\).*|\\1|p' config/mimeapps.list)"
                              " && sed -n 's/^Exec=//p' \"data/applications/$entry\""),
               QFileInfo(sandbox.path("config")).path()).trimmed();
}

bool writeFile(const QString &path, const QString &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) == text.toUtf8().size();
}

constexpr uid_t kUser = 4242;   // the ordinary user who starts the client

// Owner, mode and content (or link target) of each path, to compare.
QString describe(const QStringList &paths)
{
    return out(QStringLiteral("stat -c '%n %u %a %N' \"$@\"; cat \"$@\""), QString(), paths);
}

} // namespace

class TestInstances : public QObject
{
    Q_OBJECT
private slots:
    // A second start of a copy elsewhere, with a link, from a folder holding a
    // file named like the cache: it hands over to the running one at once, but
    // re-points the URL scheme on its way.
    void secondStartHandsOverAndExits()
    {
        Sandbox sandbox;
        Instance primary(sandbox);
        QVERIFY(waitForPrimary(sandbox, primary));
        const QString original = QFileInfo(kProgram).absoluteFilePath();
        // Start-up writes the entry after it takes the instance socket.
        QString exec;
        QTRY_VERIFY2_WITH_TIMEOUT((exec = schemeHandlerExec(sandbox)).contains(original), qPrintable(exec), 5000);
        QVERIFY(exec.endsWith(QLatin1String("%u")));

        const QString cache = sandbox.path("home") + QStringLiteral("/.local/state/VarnelVPN/bundile");
        const QString copy = sandbox.path("tmp") + QStringLiteral("/varnelvpn");
        QVERIFY(QDir().mkpath(QFileInfo(cache).path()));
        QVERIFY(writeFile(cache, "{}") && writeFile(sandbox.path("tmp") + QStringLiteral("/bundile"), "{}"));
        QVERIFY(QFile::copy(kProgram, copy));   // mode included

        QElapsedTimer clock;
        clock.start();
        Instance second(sandbox.environment(), sandbox.path("tmp"), {QStringLiteral("varnelvpn://open")}, copy);
        QVERIFY(second.exitsCleanlyWithin(5000));
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!second.errors().contains(QLatin1String("window shown")));

        // The first one showed its window; the second emptied the user's cache,
        // and its working directory is none of its business.
        QTRY_VERIFY_WITH_TIMEOUT(primary.errors().contains(
                                     QLatin1String("Message \\\"Wake up!\\\" from another instance: window shown")),
                                 5000);
        QVERIFY(primary.running());
        QCOMPARE(QFileInfo(cache).size(), 0);
        QCOMPARE(QFileInfo(sandbox.path("tmp") + QStringLiteral("/bundile")).size(), 2);
        exec = schemeHandlerExec(sandbox);
        QVERIFY2(exec.contains(copy) && !exec.contains(original), qPrintable(exec));
    }

    // A killed primary leaves its lock and socket behind; two starts at once
    // after it: exactly one becomes the primary and answers, the other hands
    // over and leaves.
    void killedPrimaryThenSimultaneousStarts()
    {
        Sandbox sandbox;
        Instance first(sandbox);
        QVERIFY(waitForPrimary(sandbox, first));
        first.kill();
        QVERIFY(first.waitForFinished(3000));
        QVERIFY(QFile::exists(SingleInstance::lockPath(sandbox.path("runtime"))));
        QVERIFY(QFile::exists(sandbox.socketPath()));

        Instance a(sandbox);
        Instance b(sandbox);
        QVERIFY(a.started() && b.started());
        QVERIFY2(QTest::qWaitFor([&] { return !a.running() || !b.running(); }, 8000) && a.running() != b.running(),
                 "both or none still running");
        Instance &primary = a.running() ? a : b;
        QVERIFY((a.running() ? b : a).exitsCleanlyWithin(1000));
        QVERIFY(!primary.waitForFinished(1000));
        // Only a primary whose event loop runs answers.
        QVERIFY(Varnel::sendInstanceMessage(sandbox.socketPath(), QStringLiteral("Wake up!"), 5000));
        QTRY_VERIFY_WITH_TIMEOUT(primary.errors().contains(QLatin1String("window shown")), 5000);
    }

    // Another user plants a login reply, a link or a lock in a folder both may
    // write to (working directory, state, data or temporary folder). The client
    // of an ordinary user who logs in automatically reads no planted reply (its
    // login goes to the network, where nothing answers), writes through no
    // link, and is not stopped by the lock.
    void plantedByAnotherUser_data()
    {
        QTest::addColumn<int>("sharedMode");
        QTest::addColumn<QStringList>("pointing");   // what names the shared folder; "cwd": the working directory
        QTest::addColumn<QString>("planted");         // a shell command; "~": the user's home
        QTest::addColumn<QStringList>("arguments");

        const QString reply = QStringLiteral(R"({"response_code":1,"user_type":2,"message":"planted reply"})");
        const QStringList none;
        const QStringList link{QStringLiteral("varnelvpn://open")};
        // The kernel guards links in sticky folders only (fs.protected_symlinks):
        // a plain world-writable folder is the harder case.
        QTest::newRow("cache in the state folder") << 01777 << QStringList{"XDG_STATE_HOME"}
                                                   << "mkdir -m 0777 VarnelVPN && echo '" + reply + "' >VarnelVPN/bundile"
                                                   << none;
        QTest::newRow("link as the cache, start with a link")
            << 0777 << QStringList{"cwd"} << "ln -s ~/victim bundile" << link;
        QTest::newRow("link as the state folder, start with a link")
            << 0777 << QStringList{"XDG_STATE_HOME"} << "ln -s ~/own VarnelVPN" << link;
        QTest::newRow("link as the URL-scheme entry")
            << 0777 << QStringList{"XDG_DATA_HOME"}
            << "mkdir -m 0777 applications && ln -s ~/victim applications/varnelvpn-url.desktop" << none;
        // Qt's runtime folder when XDG_RUNTIME_DIR is not the user's (this user
        // has no name); another user's there makes Qt give up and a client fall
        // back to the temporary folder itself.
        QTest::newRow("lock in a shared runtime and temporary folder")
            << 01777 << QStringList{"XDG_RUNTIME_DIR", "TMPDIR"}
            << QStringLiteral("mkdir -m 0777 runtime- && printf '1\\nvarnelvpn\\nelsewhere\\n' >Morvanta-VarnelVPN-%1.lock")
                   .arg(kUser)
            << none;
    }
    void plantedByAnotherUser()
    {
        QFETCH(QStringList, pointing);
        QFETCH(QString, planted);
        QFETCH(QStringList, arguments);
        if (::geteuid() != 0)
            QSKIP("files of another user are planted by root");

        // The user's home holds a file and a folder of their own; the settings
        // log in automatically at a backend that does not answer.
        Sandbox sandbox;
        const QString home = sandbox.path("home");
        const QString shared = QFileInfo(home).path() + QStringLiteral("/shared");
        QVERIFY(QDir().mkpath(home + QStringLiteral("/own")) && QDir().mkpath(sandbox.path("config") + "/Morvanta"));
        QString settings = QStringLiteral("[General]\nAutoLogin=true\n");
        for (const char *key : {"loginUrl", "signupUrl", "forgotPassUrl", "loggedDeviceUrl", "paymentData",
                                "subscriveServer", "ReferServer", "ReferInfoServer", "DecisionData"})
            settings += QLatin1String(key) + QStringLiteral("=https://127.0.0.1:1/x\n");
        QVERIFY(writeFile(home + "/victim", "the user's own file") && writeFile(home + "/own/bundile", "own")
                && writeFile(sandbox.path("config") + "/Morvanta/VarnelVPN.conf", settings));
        QFETCH(int, sharedMode);
        // All the user's but the shared folder; what is planted there, nobody's.
        QCOMPARE(out(QStringLiteral("chown -R %1:%1 %2/* && chmod 0755 %2 && mkdir -m %3 %4 && cd %4 && %5"
                                    " && chown -hR 65534:65534 * && echo done")
                         .arg(kUser).arg(QFileInfo(home).path()).arg(sharedMode, 0, 8)
                         .arg(shared, planted.replace(QLatin1Char('~'), home))),
                 QStringLiteral("done\n"));
        const QStringList watched = QStringList{home + QStringLiteral("/victim"), home + QStringLiteral("/own/bundile")}
                                    + out(QStringLiteral("find %1 -mindepth 1").arg(shared)).split('\n', Qt::SkipEmptyParts);
        const QString before = describe(watched);
        QVERIFY2(before.contains(QLatin1String("the user's own file")), qPrintable(before));

        QProcessEnvironment environment = sandbox.environment();
        environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        environment.insert(QStringLiteral("TMPDIR"), sandbox.path("tmp"));
        for (const QString &name : pointing) {
            if (name != QLatin1String("cwd"))
                environment.insert(name, shared);
        }
        Instance client(environment, pointing.contains(QStringLiteral("cwd")) ? shared : sandbox.path("work"),
                        QStringList{QStringLiteral("--reuid=%1").arg(kUser), QStringLiteral("--regid=%1").arg(kUser),
                                    QStringLiteral("--clear-groups"), kProgram} + arguments,
                        QStringLiteral("setpriv"));

        const QString networkError = QStringLiteral("Network error : reason");
        QTRY_VERIFY2_WITH_TIMEOUT(!client.running() || client.errors().contains(networkError),
                                  qPrintable(client.errors()), 10000);
        QVERIFY2(client.running(), qPrintable(client.errors()));
        QVERIFY(!client.errors().contains(QLatin1String("planted reply")));
        client.stop();   // it saves its settings on the way out
        QCOMPARE(describe(watched), before);
    }
};

QTEST_GUILESS_MAIN(TestInstances)
#include "tst_instances.moc"
