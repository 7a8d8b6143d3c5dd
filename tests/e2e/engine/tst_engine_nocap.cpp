#include "enginelab.h"
#include "unit/vpn/logwatch.h"
#include "platform/vpnplatform.h"
#include "vpn/openconnectconnection.h"
#include "vpn/openconnectserver.h"
#include "vpn/openvpnrunner.h"

#include <QtTest>

using namespace Varnel;
using Connection = OpenConnectConnection;
using Status = Connection::Status;

// Without the right to create tunnels, both protocols end their attempt in
// Disconnected with a log line that says why; nothing hangs.
class TestEngineWithoutCapability : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void openConnect();
    void openVpn();

private:
    std::shared_ptr<Connection> m_engine;
};

void TestEngineWithoutCapability::initTestCase()
{
    if (!Lab::inside())
        QSKIP("runs only inside the VPN lab (tools/lab/run-in-lab.sh)");
    QVERIFY(canConfigureNetwork());
    QVERIFY(EngineLab::dropNetworkAdmin());
    QVERIFY(!canConfigureNetwork());
    QVERIFY(Connection::initTls());
    m_engine = Connection::instance();
    m_engine->setUsername(Lab::value("USER"));
    m_engine->setPassword(Lab::value("PASSWORD"));
}

void TestEngineWithoutCapability::openConnect()
{
    m_engine->setProtocol(Connection::kOpenConnect);
    m_engine->setServer(std::make_shared<OpenConnectServer>(Lab::value("OCSERV_GATEWAY")));
    StatusRecorder recorder(m_engine.get());
    const LogWatch log;
    QCOMPARE(m_engine->connect(), Connection::Started);
    QVERIFY(EngineLab::waitFor(recorder, {Connection::Disconnected}, 30000));
    QCOMPARE(recorder.statuses.first(), Connection::Connecting);
    QVERIFY(log.contains(
        QStringLiteral("Error setting up the TUN device: tunnels need root or the CAP_NET_ADMIN capability")));
    QTRY_COMPARE(recorder.failures.size(), 1);
    QCOMPARE(recorder.failures.first().second, TunnelFailure::NeedsAdministrator);
    QTRY_VERIFY_WITH_TIMEOUT(!m_engine->isSessionRunning(), 10000);
    // No status may follow: the ended session's last signals are queued already.
    QTest::qWait(50);
    QCOMPARE(recorder.last(), Connection::Disconnected);
    QVERIFY(!EngineLab::targetReachable(1000));
}

void TestEngineWithoutCapability::openVpn()
{
    m_engine->setProtocol(Connection::kOpenVpn);
    m_engine->setOpenVpnConfig(QString::fromLatin1(Lab::openVpnTemplateBase64()), Lab::value("OPENVPN_ADDRESS"));
    StatusRecorder recorder(m_engine.get());
    const LogWatch log;
    QCOMPARE(m_engine->connect(), Connection::Started);
    QVERIFY(EngineLab::waitFor(recorder, {Connection::Disconnected}, 30000));
    QVERIFY(!recorder.statuses.contains(Connection::Connected));
    const QStringList exits = log.lines().filter(QStringLiteral("OpenVPN exited"));
    QCOMPARE(exits.size(), 1);
    QVERIFY2(exits.first().endsWith(QStringLiteral("(tunnels need root or the CAP_NET_ADMIN capability)")),
             qPrintable(exits.first()));
    QTRY_VERIFY(!m_engine->findChild<OpenVpnRunner *>());
    QCOMPARE(recorder.count(Connection::Disconnected), 1);
    QCOMPARE(recorder.failures.size(), 1);
    QCOMPARE(recorder.failures.first().second, TunnelFailure::NeedsAdministrator);
}

QTEST_GUILESS_MAIN(TestEngineWithoutCapability)
#include "tst_engine_nocap.moc"
