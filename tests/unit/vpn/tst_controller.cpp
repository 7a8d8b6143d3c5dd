#include "vpn/openconnectconnection.h"
#include "vpn/openconnectserver.h"
#include "vpn/openvpnrunner.h"
#include "logwatch.h"
#include "servicesandbox.h"
#include "statusrecorder.h"

#include <QElapsedTimer>
#include <QThread>
#include <QThreadPool>
#include <QProcess>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/resource.h>
#include <unistd.h>

using Varnel::OpenConnectConnection;
using Varnel::OpenConnectServer;
using Varnel::OpenVpnRunner;
using Varnel::StatusRecorder;
using Status = OpenConnectConnection::Status;

namespace {

// A TLS server on loopback that never answers a request: a connect attempt
// to it waits for the login page until it is cancelled.
class SilentTlsServer : public QTcpServer
{
public:
    SilentTlsServer(const QSslCertificate &certificate, const QSslKey &key)
        : m_certificate(certificate)
        , m_key(key)
    {
        listen(QHostAddress::LocalHost);
    }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(serverPort()); }
    // Bytes the clients have sent after the handshake.
    QByteArray received() const { return m_received; }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QSslSocket(this);
        socket->setSocketDescriptor(descriptor);
        socket->setLocalCertificate(m_certificate);
        socket->setPrivateKey(m_key);
        QObject::connect(socket, &QSslSocket::readyRead, this, [this, socket] { m_received += socket->readAll(); });
        socket->startServerEncryption();
    }

private:
    QSslCertificate m_certificate;
    QSslKey m_key;
    QByteArray m_received;
};

} // namespace

// The controller without any real VPN server, beside the real service:
// result codes, the OpenVPN path against a stand-in program, OpenConnect
// sessions that never get past their first step, and the device the service
// makes for each attempt.
class TestController : public QObject
{
    Q_OBJECT
public:
    explicit TestController(ServiceSandbox &sandbox) : m_sandbox(sandbox) {}

private slots:
    void initTestCase()
    {
        QTemporaryDir pki;
        QProcess openssl;
        openssl.setWorkingDirectory(pki.path());
        openssl.start(QStringLiteral("openssl"),
                      {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days",
                       "1", "-subj", "/CN=127.0.0.1", "-keyout", "key.pem", "-out", "cert.pem"});
        QVERIFY(openssl.waitForFinished(30000) && openssl.exitCode() == 0);
        QFile keyFile(pki.filePath(QStringLiteral("key.pem")));
        QVERIFY(keyFile.open(QIODevice::ReadOnly));
        m_key = QSslKey(&keyFile, QSsl::Ec);
        m_certificate = QSslCertificate::fromPath(pki.filePath(QStringLiteral("cert.pem"))).value(0);
        QVERIFY(!m_key.isNull() && !m_certificate.isNull());

        QVERIFY(OpenConnectConnection::initTls());
        m_engine = OpenConnectConnection::instance();
    }

    void init()
    {
        m_engine->setUsername(QStringLiteral("user"));
        m_engine->setPassword(QStringLiteral("pass"));
        m_dir = std::make_unique<QTemporaryDir>();
        qputenv("VARNELVPN_OPENVPN", FAKE_OPENVPN);
        qputenv("FAKE_OPENVPN_RECORD", m_dir->filePath(QStringLiteral("record")).toLocal8Bit());
        QVERIFY(m_sandbox.running() || m_sandbox.start());
    }

    void cleanup()
    {
        m_engine->disconnect();
        settle();
        qunsetenv("FAKE_OPENVPN_STEPS");
    }

    void resultCodes_data()
    {
        QTest::addColumn<int>("protocol");
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("username");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("result");

        const QString config = QStringLiteral("client\n");
        QTest::newRow("OpenConnect, no gateway before credentials") << 2 << "" << "user" << "" << 4;
        QTest::newRow("OpenConnect, empty password") << 2 << "127.0.0.1" << "user" << "" << 3;
        QTest::newRow("OpenConnect, empty user name") << 2 << "127.0.0.1" << "" << "pass" << 3;
        QTest::newRow("OpenVPN, no configuration before credentials") << 1 << "" << "" << "" << 4;
        QTest::newRow("OpenVPN, empty password") << 1 << config << "user" << "" << 3;
        QTest::newRow("OpenVPN, empty user name") << 1 << config << "" << "pass" << 3;
        QTest::newRow("unknown protocol") << 0 << config << "user" << "pass" << 0;
    }

    void resultCodes()
    {
        QFETCH(int, protocol);
        QFETCH(QString, server);
        QFETCH(QString, username);
        QFETCH(QString, password);
        QFETCH(int, result);

        m_engine->setProtocol(protocol);
        m_engine->setUsername(username);
        m_engine->setPassword(password);
        if (protocol == OpenConnectConnection::kOpenConnect)
            m_engine->setServer(std::make_shared<OpenConnectServer>(server));
        else
            m_engine->setOpenVpnConfig(QString::fromLatin1(server.toLatin1().toBase64()), QStringLiteral("h:1"));
        StatusRecorder status(m_engine.get());
        QCOMPARE(int(m_engine->connect()), result);
        // No status may come: a refused connect starts nothing, so one would be queued already.
        QTest::qWait(50);
        QCOMPARE(status.statuses.size(), 0);
        QVERIFY(m_engine->findChildren<OpenVpnRunner *>().isEmpty());
    }

    void openVpnStatusAndCounts()
    {
        qputenv("FAKE_OPENVPN_STEPS", "connect\nexpect hold release\nsend >STATE:1,CONNECTED,SUCCESS,,,,,\n"
                                      "send >BYTECOUNT:100,200\nwait-close");
        m_engine->setProtocol(OpenConnectConnection::kOpenVpn);
        m_engine->setOpenVpnConfig(QString::fromLatin1(QByteArray("remote remoteIP remotePort\n").toBase64()),
                                   QStringLiteral("10.0.0.1:1194"));
        QCOMPARE(m_engine->openVpnConfig(), QStringLiteral("remote 10.0.0.1 1194\n"));
        StatusRecorder status(m_engine.get());
        QCOMPARE(m_engine->connect(), OpenConnectConnection::Started);
        QTRY_COMPARE(status.stats, (QList<QPair<quint64, quint64>>{{200, 100}}));
        QCOMPARE(status.statuses, QList<Status>({OpenConnectConnection::Connecting, OpenConnectConnection::Connected}));
        QTRY_COMPARE(m_engine->status(), OpenConnectConnection::Connected);
        // OpenVPN was given the device the service made.
        QCOMPARE(m_sandbox.devices(), QStringList{m_engine->tunnelDevice()});

        // No command channel in OpenVPN sessions: the counts come from the runner.
        QCOMPARE(m_engine->update_stats(), -1);

        m_engine->disconnect();
        QTRY_COMPARE(status.statuses.mid(2), QList<Status> {OpenConnectConnection::Disconnected});
        QTRY_VERIFY(m_engine->findChildren<OpenVpnRunner *>().isEmpty());
        QTRY_VERIFY(m_sandbox.devices().isEmpty());
        // A vanished runner is nothing to stop (a status would be queued at once).
        m_engine->disconnect();
        QTest::qWait(50);
        QCOMPARE(status.statuses.size(), 3);
    }

    // Without the service nothing starts: the attempt ends at once and says
    // how to start the service.
    void serviceNotRunning_data()
    {
        QTest::addColumn<int>("protocol");
        QTest::newRow("OpenVPN") << int(OpenConnectConnection::kOpenVpn);
        QTest::newRow("OpenConnect") << int(OpenConnectConnection::kOpenConnect);
    }

    void serviceNotRunning()
    {
        QFETCH(int, protocol);
        m_sandbox.stop();
        m_engine->setProtocol(protocol);
        m_engine->setOpenVpnConfig(QString::fromLatin1(QByteArray("remote remoteIP remotePort\n").toBase64()),
                                   QStringLiteral("10.0.0.1:1194"));
        useOpenConnect(QStringLiteral("127.0.0.1:1"));
        m_engine->setProtocol(protocol);
        StatusRecorder status(m_engine.get());
        QCOMPARE(m_engine->connect(), OpenConnectConnection::Started);
        QTRY_COMPARE(status.statuses, QList<Status>{OpenConnectConnection::Disconnected});
        QCOMPARE(status.failures.size(), 1);
        QCOMPARE(status.failures.first().second, Varnel::TunnelFailure::ServiceUnavailable);
        QVERIFY(status.details.first().contains(QStringLiteral("sudo systemctl start varnelvpn")));
        QVERIFY(m_engine->findChildren<OpenVpnRunner *>().isEmpty() && !m_engine->isSessionRunning());
    }

    void openConnectCancelledWhileConnecting()
    {
        SilentTlsServer server(m_certificate, m_key);
        StatusRecorder status(m_engine.get());
        startWaitingAttempt(server);
        QTRY_COMPARE(m_engine->status(), OpenConnectConnection::Connecting);
        // The attempt holds the command channel: a second one is refused.
        QCOMPARE(m_engine->connect(), OpenConnectConnection::AlreadyActive);
        QCOMPARE(m_engine->update_stats(), 0);

        m_engine->disconnect();
        QTRY_COMPARE_WITH_TIMEOUT(status.last(), OpenConnectConnection::Disconnected, 5000);
        QCOMPARE(status.statuses, QList<Status>({OpenConnectConnection::Connecting,
                                                  OpenConnectConnection::Disconnecting,
                                                  OpenConnectConnection::Disconnected}));
        QCOMPARE(m_engine->lastError(), QStringLiteral("Authentication error; cannot obtain cookie"));
        QTRY_COMPARE(m_engine->status(), OpenConnectConnection::Disconnected);
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
        m_engine->disconnect();
        QTRY_COMPARE(status.last(), OpenConnectConnection::Disconnected);
    }

    void commandChannelUnavailable()
    {
        useOpenConnect(QStringLiteral("127.0.0.1:1"));
        StatusRecorder status(m_engine.get());
        const Varnel::LogWatch log;

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
        QVERIFY(log.contains(QStringLiteral("invalid socket")) && log.contains(QStringLiteral("pipe setup fails")));
        // No status may come: nothing was started.
        QTest::qWait(50);
        QCOMPARE(status.statuses.size(), 0);
        // Nothing is left half set up: the next attempt goes ahead.
        QCOMPARE(m_engine->connect(), OpenConnectConnection::Started);
        QTRY_COMPARE_WITH_TIMEOUT(status.statuses.value(1), OpenConnectConnection::Disconnected, 15000);
    }
    // Ends the application's event loop once; the controller works on after it.
    void quitWhileConnecting()
    {
        SilentTlsServer server(m_certificate, m_key);
        StatusRecorder status(m_engine.get());
        startWaitingAttempt(server);

        // The application's event loop ends while the attempt is under way; the
        // controller stops it before the thread pool would wait for it forever.
        QElapsedTimer timer;
        timer.start();
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        QCoreApplication::exec();
        QVERIFY2(timer.elapsed() < 2500, qPrintable(QString::number(timer.elapsed())));
        QTRY_COMPARE(status.last(), OpenConnectConnection::Disconnected);
        QTRY_COMPARE(m_engine->status(), OpenConnectConnection::Disconnected);

        // The stopped session was released: a new one can start.
        startWaitingAttempt(server);
        m_engine->disconnect();
        QTRY_COMPARE_WITH_TIMEOUT(status.count(OpenConnectConnection::Disconnected), 2, 5000);
    }

private:
    // Waits until a running session has ended and the controller saw it.
    void settle()
    {
        QTRY_COMPARE_WITH_TIMEOUT(m_engine->status(), OpenConnectConnection::Disconnected, 10000);
        QTRY_VERIFY(m_engine->findChildren<OpenVpnRunner *>().isEmpty());
    }
    // Starts an OpenConnect attempt that waits on a silent server.
    void startWaitingAttempt(SilentTlsServer &server)
    {
        QVERIFY(server.isListening());
        useOpenConnect(server.address());
        QCOMPARE(m_engine->connect(), OpenConnectConnection::Started);
        // Past the handshake (its key pinned), the login request is waiting for an answer.
        QTRY_VERIFY_WITH_TIMEOUT(server.received().contains("POST"), 10000);
    }
    void useOpenConnect(const QString &address)
    {
        m_engine->setProtocol(OpenConnectConnection::kOpenConnect);
        m_engine->setServer(std::make_shared<OpenConnectServer>(address));
    }

    ServiceSandbox &m_sandbox;
    std::shared_ptr<OpenConnectConnection> m_engine;
    std::unique_ptr<QTemporaryDir> m_dir;
    QSslCertificate m_certificate;
    QSslKey m_key;
};

VARNEL_SERVICE_TEST_MAIN(TestController, QCoreApplication)
#include "tst_controller.moc"
