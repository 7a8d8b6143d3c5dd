#include "enginelab.h"
#include "unit/vpn/logwatch.h"
#include "vpn/openconnectconnection.h"
#include "vpn/openvpnrunner.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryFile>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using namespace Varnel;
using Connection = OpenConnectConnection;
using Status = Connection::Status;

// The OpenVPN path against the lab's OpenVPN server, with Debian's openvpn
// program, run in the client namespace as the lab user, beside the lab's
// service.
class TestEngineOpenVpn : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void sessionLifecycle();
    void wrongPassword();
    void processKilled();
    void programMissing();
    void repeatedSessionsDoNotGrow();

private:
    Status attempt(StatusRecorder &recorder) { return EngineLab::attempt(*m_engine, recorder); }
    void disconnectAndWait(StatusRecorder &recorder);
    OpenVpnRunner *runner() const { return m_engine->findChild<OpenVpnRunner *>(); }
    // Runs iperf3 against the target for a second (reverse: download).
    static bool transfer(bool reverse);

    std::shared_ptr<Connection> m_engine;
};

void TestEngineOpenVpn::initTestCase()
{
    if (!Lab::inside())
        QSKIP("runs only inside the VPN lab (tools/lab/run-in-lab.sh)");
    QVERIFY(Connection::initTls());
    QVERIFY(::geteuid() != 0);
    m_engine = Connection::instance();
    m_engine->setProtocol(Connection::kOpenVpn);
    m_engine->setOpenVpnConfig(QString::fromLatin1(Lab::openVpnTemplateBase64()), Lab::value("OPENVPN_ADDRESS"));
    QVERIFY(m_engine->openVpnConfig().contains(QStringLiteral("remote %1 %2")
                                                   .arg(Lab::value("OPENVPN_HOST"), Lab::value("OPENVPN_PORT"))));
}

void TestEngineOpenVpn::init()
{
    m_engine->setUsername(Lab::value("USER"));
    m_engine->setPassword(Lab::value("PASSWORD"));
}

void TestEngineOpenVpn::cleanup()
{
    m_engine->disconnect();
    QTRY_VERIFY_WITH_TIMEOUT(!runner(), 10000);
    QTRY_COMPARE(m_engine->status(), Connection::Disconnected);
    qunsetenv("VARNELVPN_OPENVPN");
}

void TestEngineOpenVpn::disconnectAndWait(StatusRecorder &recorder)
{
    const int ends = recorder.count(Connection::Disconnected);
    m_engine->disconnect();
    QTRY_COMPARE(recorder.count(Connection::Disconnected), ends + 1);
    QTRY_VERIFY_WITH_TIMEOUT(!runner(), 10000);
}

bool TestEngineOpenVpn::transfer(bool reverse)
{
    QProcess iperf;
    QStringList arguments {QStringLiteral("-c"), Lab::value("TARGET"), QStringLiteral("-p"), Lab::value("IPERF_PORT"),
                           QStringLiteral("-t"), QStringLiteral("1")};
    if (reverse)
        arguments << QStringLiteral("-R");
    iperf.start(QStringLiteral("iperf3"), arguments);
    return iperf.waitForFinished(20000) && iperf.exitCode() == 0;
}

void TestEngineOpenVpn::sessionLifecycle()
{
    QVERIFY2(!EngineLab::targetReachable(1000), "the target must not answer without a tunnel");
    StatusRecorder recorder(m_engine.get());
    QCOMPARE(m_engine->connect(), Connection::Started);

    // The configuration reaches OpenVPN through its input, never a file.
    QVERIFY(runner());
    QVERIFY(!runner()->findChild<QTemporaryFile *>());

    QVERIFY(EngineLab::waitFor(recorder, {Connection::Connected, Connection::Disconnected}, 30000));
    QCOMPARE(recorder.last(), Connection::Connected);
    // OpenVPN holds no capability, on the device the service made.
    QCOMPARE(EngineLab::capabilities(runner()->findChild<QProcess *>()->processId()), EngineLab::noCapabilities());
    const QString device = m_engine->tunnelDevice();
    QVERIFY2(device.startsWith(QStringLiteral("vvpn")) && EngineLab::deviceExists(device), qPrintable(device));
    // OpenVPN reports each connecting state: Connecting may come more than once.
    QCOMPARE(recorder.statuses.first(), Connection::Connecting);
    QCOMPARE(recorder.count(Connection::Connecting) + recorder.count(Connection::Connected),
             recorder.statuses.size());
    QVERIFY(EngineLab::targetReachableSoon());

    // Counts once a second: tx is what was sent, rx what was received.
    QTRY_VERIFY_WITH_TIMEOUT(!recorder.stats.isEmpty(), 5000);
    // The counts of a transfer are in the first report made after it ended:
    // reports queued while iperf ran are taken first, then two more awaited
    // (the first of them may still have been made during the transfer).
    auto reportAfterNow = [&] {
        QCoreApplication::processEvents();
        const int seen = recorder.stats.size();
        return QTest::qWaitFor([&] { return recorder.stats.size() >= seen + 2; }, 5000);
    };
    QVERIFY(transfer(false));
    QVERIFY(reportAfterNow());
    const auto afterUpload = recorder.stats.last();
    QVERIFY(transfer(true));
    QVERIFY(reportAfterNow());
    const auto afterDownload = recorder.stats.last();
    const quint64 sentInUpload = afterUpload.first;
    const quint64 receivedInDownload = afterDownload.second - afterUpload.second;
    const quint64 sentInDownload = afterDownload.first - afterUpload.first;
    QVERIFY2(sentInUpload > 1000000 && receivedInDownload > 1000000 && sentInDownload < receivedInDownload / 5,
             qPrintable(QStringLiteral("upload tx %1, download rx %2 tx %3")
                            .arg(sentInUpload).arg(receivedInDownload).arg(sentInDownload)));

    const int before = recorder.statuses.size();
    disconnectAndWait(recorder);
    QCOMPARE(recorder.statuses.mid(before), QList<Status> {Connection::Disconnected});
    QVERIFY(!EngineLab::targetReachable(1000));
    QTRY_VERIFY(!EngineLab::deviceExists(device));
}

void TestEngineOpenVpn::wrongPassword()
{
    m_engine->setPassword(Lab::value("BAD_PASSWORD"));
    StatusRecorder recorder(m_engine.get());
    QCOMPARE(attempt(recorder), Connection::Disconnected);
    QVERIFY(!recorder.statuses.contains(Connection::Connected));
    // OpenVPN exits after the refusal as well: still one end only.
    QTRY_VERIFY_WITH_TIMEOUT(!runner(), 15000);
    // No second end may follow: the runner is gone, what it sent is queued already.
    QTest::qWait(50);
    QCOMPARE(recorder.count(Connection::Disconnected), 1);
    QCOMPARE(recorder.failures.size(), 1);
    QCOMPARE(recorder.failures.first().second, TunnelFailure::CredentialsRejected);
}

void TestEngineOpenVpn::processKilled()
{
    StatusRecorder recorder(m_engine.get());
    QCOMPARE(attempt(recorder), Connection::Connected);
    QPointer<OpenVpnRunner> current = runner();
    auto *process = current->findChild<QProcess *>();
    QVERIFY(process && process->processId() > 0);
    QCOMPARE(::kill(pid_t(process->processId()), SIGKILL), 0);

    QTRY_COMPARE_WITH_TIMEOUT(recorder.last(), Connection::Disconnected, 10000);
    QTRY_VERIFY(current.isNull());
    // The controller holds no dangling runner: a disconnect is harmless.
    m_engine->disconnect();
    // Nothing may follow: a status from this disconnect would be queued at once.
    QTest::qWait(50);
    QCOMPARE(recorder.count(Connection::Disconnected), 1);
    QCOMPARE(recorder.failures.size(), 1);
    QCOMPARE(recorder.failures.first().second, TunnelFailure::ConnectionLost);
    QVERIFY(!EngineLab::targetReachable(1000));
}

void TestEngineOpenVpn::programMissing()
{
    qputenv("VARNELVPN_OPENVPN", "/nonexistent/openvpn");
    StatusRecorder recorder(m_engine.get());
    const LogWatch log;
    QCOMPARE(m_engine->connect(), Connection::Started);
    QTRY_COMPARE(recorder.statuses, QList<Status>({Connection::Connecting, Connection::Disconnected}));
    QVERIFY(log.contains(QStringLiteral("OpenVPN Connect Failed")));
    QCOMPARE(recorder.failures, (QList<QPair<int, TunnelFailure>>{{1, TunnelFailure::ProgramMissing}}));
    QTRY_VERIFY(!runner());
}

void TestEngineOpenVpn::repeatedSessionsDoNotGrow()
{
    StatusRecorder recorder(m_engine.get());
    EngineLab::verifyCyclesDoNotGrow("OpenVPN", 3, [&] {
        QCOMPARE(attempt(recorder), Connection::Connected);
        disconnectAndWait(recorder);
    });
}

QTEST_GUILESS_MAIN(TestEngineOpenVpn)
#include "tst_engine_openvpn.moc"
