#include "vpn/openconnectconnection.h"
#include "vpn/openconnectserver.h"
#include "vpn/openvpnrunner.h"
#include "logwatch.h"
#include "servicesandbox.h"
#include "statusrecorder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QThread>
#include <QThreadPool>
#include <QtTest>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using Varnel::OpenConnectConnection;
using Varnel::OpenConnectServer;
using Varnel::OpenVpnRunner;
using Varnel::StatusRecorder;
using Varnel::TunnelFailure;
using Status = OpenConnectConnection::Status;

namespace {

// A TLS server on loopback that never answers a request: a connect attempt
// to it waits for the login page until it is cancelled.
class SilentTlsServer : public QTcpServer
{
public:
    SilentTlsServer() { listen(QHostAddress::LocalHost); }
    // Bytes the clients have sent after the handshake.
    QByteArray received;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QSslSocket(this);
        socket->setSocketDescriptor(descriptor);
        socket->setLocalCertificate(QStringLiteral(VPN_TEST_DATA "/server.crt"));
        socket->setPrivateKey(QStringLiteral(VPN_TEST_DATA "/server.key"), QSsl::Ec);
        QObject::connect(socket, &QSslSocket::readyRead, this, [this, socket] { received += socket->readAll(); });
        socket->startServerEncryption();
    }
};

const QString kClient = QStringLiteral("client\nremote 10.0.0.1 1194\n");

} // namespace

// The engine without any real VPN server, beside the real service: the
// OpenVPN runner and the controller against a stand-in OpenVPN program
// (fakeopenvpn.cpp) that records what it is given and plays the management
// side from a script; OpenConnect attempts that never get past their first step.
class TestVpnEngine : public QObject
{
    Q_OBJECT
public:
    explicit TestVpnEngine(ServiceSandbox &sandbox) : m_sandbox(sandbox) {}

private slots:
    void initTestCase()
    {
        QVERIFY(OpenConnectConnection::initTls());
        m_engine = OpenConnectConnection::instance();
    }

    void init()
    {
        m_engine->setUsername(QStringLiteral("user"));
        m_engine->setPassword(QStringLiteral("pass"));
        m_dir = std::make_unique<QTemporaryDir>();
        m_record = m_dir->filePath(QStringLiteral("record"));
        qputenv("VARNELVPN_OPENVPN", FAKE_OPENVPN);
        qputenv("FAKE_OPENVPN_RECORD", m_record.toLocal8Bit());
        QVERIFY(m_sandbox.running() || m_sandbox.start());
    }

    void cleanup()
    {
        // A failed test leaves its runner behind: end its program, remove its files.
        for (const QPointer<OpenVpnRunner> &runner : qAsConst(m_runners))
            delete runner.data();
        m_runners.clear();
        m_engine->disconnect();
        QTRY_COMPARE_WITH_TIMEOUT(m_engine->status(), OpenConnectConnection::Disconnected, 10000);
        QTRY_VERIFY(m_engine->findChildren<OpenVpnRunner *>().isEmpty());
        qunsetenv("FAKE_OPENVPN_STEPS");
    }

    void runnerDialogue()
    {
        const QString go = m_dir->filePath(QStringLiteral("go"));
        QPointer<OpenVpnRunner> runner = startRunner(
            {"go " + go, "connect", "expect hold release", "send >PASSWORD:Need 'Auth' username/password",
             "expect password Auth \"p\\\"w \\\\d\"", "send >STATE:1,CONNECTING,,,,,,",
             "say PUSH: Received control message: 'PUSH_REPLY,redirect-gateway def1,push-continuation 2'",
             "say PUSH: Received control message: 'PUSH_REPLY,dhcp-option DNS 10.8.0.1'",
             "send >STATE:2,WAIT,,,,,,", "send >STATE:3,CONNECTED,SUCCESS,10.8.0.2,10.0.0.1,1194,,",
             "send >BYTECOUNT:1024,2048", "wait-close"},
            QStringLiteral("us\"er"), QStringLiteral("p\"w \\d"));
        QSignalSpy connecting(runner.data(), &OpenVpnRunner::connecting);
        QSignalSpy connected(runner.data(), &OpenVpnRunner::connected);
        QSignalSpy transfer(runner.data(), &OpenVpnRunner::transfer);
        QSignalSpy disconnected(runner.data(), &OpenVpnRunner::disconnected);

        // The configuration reaches OpenVPN through its input: no file that
        // anyone could replace before OpenVPN reads it. The management socket's
        // folder is private. OpenVPN opens the service's device and hands what
        // the server pushed to the tunnel script, which reaches the service.
        QVERIFY(!runner->findChild<QTemporaryFile *>());
        const QString socketPath = runner->findChild<QLocalServer *>()->fullServerName();
        const QString privateDir = QFileInfo(socketPath).path();
        struct stat status {};
        QVERIFY(::stat(QFile::encodeName(privateDir).constData(), &status) == 0);
        QCOMPARE(status.st_mode & 07777, 0700u);
        QCOMPARE(QDir(privateDir).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System),
                 QStringList {QStringLiteral("management")});

        // Another local program reaches the socket before OpenVPN does: it
        // gets nothing and is sent away; OpenVPN itself still gets through.
        QLocalSocket rogue;
        rogue.connectToServer(socketPath);
        QVERIFY(rogue.waitForConnected(3000));
        QTRY_COMPARE(rogue.state(), QLocalSocket::UnconnectedState);
        QCOMPARE(rogue.readAll(), QByteArray());
        QVERIFY(QFile(go).open(QIODevice::WriteOnly));

        QTRY_COMPARE(connected.count(), 1);
        QTRY_COMPARE(transfer.count(), 1);
        QCOMPARE(transfer.at(0), (QVariantList{qint64(1024), qint64(2048)}));
        // The CONNECTING state line; the WAIT line emits nothing.
        QCOMPARE(connecting.count(), 1);
        QCOMPARE(records(QStringLiteral("arg")),
                 QStringList({"--config", "stdin", "--verb", "3", "--management", socketPath, "unix",
                              "--management-client", "--management-query-passwords", "--management-hold",
                              "--suppress-timestamps", "--dev", "vvpn3", "--dev-type", "tun", "--disable-dco",
                              "--ifconfig-noexec", "--route-noexec", "--script-security", "2", "--up",
                              qEnvironmentVariable("VARNELVPN_TUNNEL_SCRIPT"), "--up-restart", "--setenv",
                              "VARNELVPN_SERVICE_SOCKET", qEnvironmentVariable("VARNELVPN_SERVICE_SOCKET"),
                              "--setenv", "VARNELVPN_PUSHED_OPTIONS", privateDir + "/pushed"}));
        // What the server pushed, both parts of it, for the tunnel script.
        QFile pushed(privateDir + "/pushed");
        QTRY_VERIFY(pushed.exists());
        QVERIFY(pushed.open(QIODevice::ReadOnly));
        QCOMPARE(pushed.readAll(),
                 "PUSH_REPLY,redirect-gateway def1,push-continuation 2,PUSH_REPLY,dhcp-option DNS 10.8.0.1,");
        QCOMPARE(records(QStringLiteral("config")), QStringList({"client", "remote 10.0.0.1 1194", ""}));
        QCOMPARE(records(QStringLiteral("got")),
                 QStringList({"state on", "state", "bytecount 1", "hold release", "username Auth \"us\\\"er\"",
                              "password Auth \"p\\\"w \\\\d\""}));

        // Only one management client: the listener is gone.
        QLocalSocket late;
        late.connectToServer(socketPath);
        QVERIFY(!late.waitForConnected(1000));

        runner->stop();
        // The program quits when it loses the management connection; the runner follows.
        QTRY_VERIFY(runner.isNull());
        QCOMPARE(disconnected.count(), 1);
    }

    // How a runner's session ends, as the runner tells the controller.
    void runnerEnds_data()
    {
        QTest::addColumn<QString>("config");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QStringList>("steps");   // none: the program must not start
        QTest::addColumn<TunnelFailure>("failure");
        QTest::addColumn<QString>("detail");
        const auto row = [](const char *name, const QStringList &steps, TunnelFailure failure,
                            const QString &detail = QString(), const QString &config = kClient,
                            const QString &password = QStringLiteral("pass")) {
            QTest::newRow(name) << config << password << steps << failure << detail;
        };
        const QStringList upThen = {"connect", "expect hold release", "say TUN/TAP device tun7 opened",
                                    "send >STATE:1,CONNECTED,SUCCESS,,,,,"};
        const QString noDevice = QStringLiteral("ERROR: Cannot ioctl TUNSETIFF tun: Operation not permitted (errno=1)");
        row("configuration refused: nothing written or started", {}, TunnelFailure::ConfigurationRefused,
            "status", kClient + "status /tmp/status\n");
        // A control character would end the command and start another: nothing can reach OpenVPN.
        row("line feed in the password: not started", {}, TunnelFailure::CredentialsRejected, "", kClient,
            "pass\nsignal SIGTERM");
        row("no tunnel device", {"connect", "expect hold release", "say " + noDevice, "exit 1"},
            TunnelFailure::TunnelDevice, noDevice);
        row("gone before it connected", {"connect", "say Options error: something", "exit 1"},
            TunnelFailure::ServerUnreachable, "Options error: something");
        // An OpenVPN that ignores the polite stop is killed after its grace period.
        row("stopped, though the program ignores it: no failure",
            QStringList{"ignore-term"} + upThen + QStringList{"sleep 15000"}, TunnelFailure::None);
    }

    void runnerEnds()
    {
        QFETCH(QString, config);
        QFETCH(QString, password);
        QFETCH(QStringList, steps);
        QFETCH(TunnelFailure, failure);
        QFETCH(QString, detail);
        const bool started = !steps.isEmpty();
        const QString temporary = m_dir->filePath(QStringLiteral("tmp"));
        QVERIFY(QDir().mkpath(temporary));
        qputenv("TMPDIR", QFile::encodeName(temporary));
        qputenv("FAKE_OPENVPN_STEPS", steps.join(QLatin1Char('\n')).toLocal8Bit());
        auto *runner = new OpenVpnRunner;
        QPointer<OpenVpnRunner> guard = runner;
        m_runners << runner;
        QSignalSpy connected(runner, &OpenVpnRunner::connected);
        // Read as the controller reads it: when the end is reported (the runner
        // goes soon after).
        int ends = 0;
        QPair<TunnelFailure, QString> reason;
        QObject::connect(runner, &OpenVpnRunner::disconnected, this, [&] {
            ++ends;
            reason = qMakePair(runner->failure(), runner->failureDetail());
        });
        const bool running = runner->connect(config, QStringLiteral("user"), password);
        qunsetenv("TMPDIR");
        QCOMPARE(running, started);
        if (failure == TunnelFailure::None) {
            QTRY_COMPARE(connected.count(), 1);
            runner->stop();
        }
        QTRY_COMPARE(ends, 1);
        QCOMPARE(reason, qMakePair(failure, detail));
        QCOMPARE(QFileInfo::exists(m_record), started);
        if (!started)
            QCOMPARE(QDir(temporary).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
        QTRY_VERIFY(guard.isNull());
    }

    void resultCodes_data()
    {
        QTest::addColumn<int>("protocol");
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("username");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("result");

        const auto row = [](const char *name, int protocol, const char *server, const char *username,
                            const char *password, OpenConnectConnection::ConnectResult result) {
            QTest::newRow(name) << protocol << server << username << password << int(result);
        };
        const int openConnect = OpenConnectConnection::kOpenConnect, openVpn = OpenConnectConnection::kOpenVpn;
        row("OpenConnect, no gateway before credentials", openConnect, "", "user", "", OpenConnectConnection::InvalidServer);
        row("OpenConnect, empty password", openConnect, "127.0.0.1", "user", "", OpenConnectConnection::InvalidCredentials);
        row("OpenVPN, no configuration before credentials", openVpn, "", "", "", OpenConnectConnection::InvalidServer);
        row("OpenVPN, empty user name", openVpn, "client\n", "", "pass", OpenConnectConnection::InvalidCredentials);
        row("unknown protocol", 0, "client\n", "user", "pass", OpenConnectConnection::Started);
    }

    void resultCodes()
    {
        QFETCH(int, protocol);
        QFETCH(QString, server);
        QFETCH(QString, username);
        QFETCH(QString, password);
        m_engine->setProtocol(protocol);
        m_engine->setUsername(username);
        m_engine->setPassword(password);
        if (protocol == OpenConnectConnection::kOpenConnect)
            m_engine->setServer(std::make_shared<OpenConnectServer>(server));
        else
            m_engine->setOpenVpnConfig(QString::fromLatin1(server.toLatin1().toBase64()), QStringLiteral("h:1"));
        StatusRecorder status(m_engine.get());
        QTEST(int(m_engine->connect()), "result");
        // No status may come: a refused connect starts nothing, so one would be queued already.
        QTest::qWait(50);
        QCOMPARE(status.statuses.size(), 0);
        QVERIFY(m_engine->findChildren<OpenVpnRunner *>().isEmpty());
    }

    // Without the service nothing starts: the attempt ends at once and says
    // how to start the service (OpenVPN's attempt: in the connect-flow test).
    void serviceNotRunning()
    {
        m_sandbox.stop();
        useOpenConnect(QStringLiteral("127.0.0.1:1"));
        StatusRecorder status(m_engine.get());
        QCOMPARE(m_engine->connect(), OpenConnectConnection::Started);
        QTRY_COMPARE(status.statuses, QList<Status>{OpenConnectConnection::Disconnected});
        QCOMPARE(status.failures.size(), 1);
        QCOMPARE(status.failures.first().second, TunnelFailure::ServiceUnavailable);
        QVERIFY(status.details.first().contains(QStringLiteral("sudo systemctl start varnelvpn")));
        QVERIFY(m_engine->findChildren<OpenVpnRunner *>().isEmpty() && !m_engine->isSessionRunning());
    }

    // An OpenConnect attempt waiting for its login page, stopped by the user
    // or by the end of the application's event loop (then the controller
    // stops it before the thread pool would wait for it forever).
    void attemptStopped_data()
    {
        QTest::addColumn<bool>("quit");
        QTest::newRow("disconnect") << false;
        QTest::newRow("event loop ends") << true;
    }

    void attemptStopped()
    {
        QFETCH(bool, quit);
        SilentTlsServer server;
        StatusRecorder status(m_engine.get());
        startWaitingAttempt(server);
        QTRY_COMPARE(m_engine->status(), OpenConnectConnection::Connecting);
        // The attempt holds the command channel: a second one is refused.
        QCOMPARE(m_engine->connect(), OpenConnectConnection::AlreadyActive);
        QCOMPARE(m_engine->update_stats(), 0);

        if (quit) {
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            QCoreApplication::exec();
        } else {
            m_engine->disconnect();
        }
        QTRY_COMPARE_WITH_TIMEOUT(status.last(), OpenConnectConnection::Disconnected, 5000);
        QCOMPARE(status.statuses, QList<Status>({OpenConnectConnection::Connecting,
                                                  OpenConnectConnection::Disconnecting,
                                                  OpenConnectConnection::Disconnected}));
        QCOMPARE(m_engine->lastError(), QStringLiteral("Authentication error; cannot obtain cookie"));
        QTRY_COMPARE(m_engine->status(), OpenConnectConnection::Disconnected);

        // The stopped session was released: a new one can start.
        startWaitingAttempt(server);
        m_engine->disconnect();
        QTRY_COMPARE_WITH_TIMEOUT(status.count(OpenConnectConnection::Disconnected), 2, 5000);
    }

    void disconnectAsTheSessionEnds()
    {
        QTcpServer probe;   // a port nobody listens on once it is closed
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        useOpenConnect(QStringLiteral("127.0.0.1:%1").arg(probe.serverPort()));
        probe.close();
        StatusRecorder status(m_engine.get());
        QCOMPARE(m_engine->connect(), OpenConnectConnection::Started);
        // Nobody listens: the session fails and ends by itself while the GUI
        // thread is busy, so its Disconnected is queued before the user's
        // disconnect is handled.
        const QString refused = QStringLiteral("Authentication error; cannot obtain cookie");
        QElapsedTimer timer;
        timer.start();
        while ((m_engine->lastError() != refused || QThreadPool::globalInstance()->activeThreadCount() > 0)
               && timer.elapsed() < 15000)
            QThread::msleep(10);
        QCOMPARE(m_engine->lastError(), refused);
        QCOMPARE(QThreadPool::globalInstance()->activeThreadCount(), 0);
        QCOMPARE(m_engine->server()->protocol, QStringLiteral("anyconnect"));
        m_engine->disconnect();

        QTRY_COMPARE(m_engine->status(), OpenConnectConnection::Disconnected);
        // It must stay so: the ended session's last signals are queued already.
        QTest::qWait(50);
        QCOMPARE(m_engine->status(), OpenConnectConnection::Disconnected);
        QCOMPARE(status.statuses.mid(0, 2), QList<Status>({OpenConnectConnection::Connecting,
                                                           OpenConnectConnection::Disconnected}));
        QCOMPARE(status.last(), OpenConnectConnection::Disconnected);

        // The session is over and released: no channel is left.
        const Varnel::LogWatch log;
        QCOMPARE(m_engine->update_stats(), -1);
        QVERIFY(log.contains(QStringLiteral("update_stats: invalid socket")));
    }

    void commandChannelUnavailable()
    {
        useOpenConnect(QStringLiteral("127.0.0.1:1"));
        StatusRecorder status(m_engine.get());

        // No descriptor left for the command channel.
        rlimit saved {};
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &saved), 0);
        const int lowestFree = dup(0);
        QVERIFY(lowestFree >= 0);
        close(lowestFree);
        rlimit tight = saved;
        tight.rlim_cur = rlim_t(lowestFree);
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &tight), 0);
        const OpenConnectConnection::ConnectResult result = m_engine->connect();
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &saved), 0);

        QCOMPARE(result, OpenConnectConnection::SetupFailed);
        // No status may come: nothing was started.
        QTest::qWait(50);
        QCOMPARE(status.statuses.size(), 0);
        // Nothing is left half set up: the next attempt goes ahead.
        QCOMPARE(m_engine->connect(), OpenConnectConnection::Started);
        QTRY_COMPARE_WITH_TIMEOUT(status.statuses.value(1), OpenConnectConnection::Disconnected, 15000);
    }

private:
    // Starts a runner whose program plays steps; the runner is owned by the test.
    OpenVpnRunner *startRunner(const QStringList &steps, const QString &username = QStringLiteral("user"),
                               const QString &password = QStringLiteral("pass"))
    {
        qputenv("FAKE_OPENVPN_STEPS", steps.join(QLatin1Char('\n')).toLocal8Bit());
        auto *runner = new OpenVpnRunner;
        runner->setDevice(QStringLiteral("vvpn3"));
        m_runners << runner;
        runner->connect(kClient, username, password);
        return runner;
    }

    // What the program recorded under prefix.
    QStringList records(const QString &prefix) const
    {
        QFile file(m_record);
        QStringList found;
        if (!file.open(QIODevice::ReadOnly))
            return found;
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QString text = QString::fromUtf8(line);
            if (text.startsWith(prefix + QLatin1Char(' ')))
                found << text.mid(prefix.size() + 1);
        }
        return found;
    }

    // Starts an OpenConnect attempt that waits on a silent server.
    void startWaitingAttempt(SilentTlsServer &server)
    {
        server.received.clear();
        useOpenConnect(QStringLiteral("127.0.0.1:%1").arg(server.serverPort()));
        QCOMPARE(m_engine->connect(), OpenConnectConnection::Started);
        // Past the handshake (its key pinned), the login request is waiting for an answer.
        QTRY_VERIFY_WITH_TIMEOUT(server.received.contains("POST"), 10000);
    }

    void useOpenConnect(const QString &address)
    {
        m_engine->setProtocol(OpenConnectConnection::kOpenConnect);
        m_engine->setServer(std::make_shared<OpenConnectServer>(address));
    }

    ServiceSandbox &m_sandbox;
    std::shared_ptr<OpenConnectConnection> m_engine;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_record;
    QList<QPointer<OpenVpnRunner>> m_runners;
};

VARNEL_SERVICE_TEST_MAIN(TestVpnEngine, QCoreApplication)
#include "tst_vpnengine.moc"
