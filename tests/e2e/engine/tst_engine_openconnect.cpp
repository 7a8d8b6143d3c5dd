#include "enginelab.h"
#include "extraocserv.h"
#include "unit/vpn/logwatch.h"
#include "vpn/openconnectconnection.h"
#include "vpn/openconnectserver.h"

#include <QtTest>

#include <unistd.h>

using namespace Varnel;
using Connection = OpenConnectConnection;
using Status = Connection::Status;

// The OpenConnect path against the lab's ocserv (and further ocserv
// instances for pins and authentication groups), run in the client
// namespace as the lab user, beside the lab's service.
class TestEngineOpenConnect : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void sessionLifecycle();
    void wrongPassword();
    void cancelledDuringAttempt();
    void keyPinnedPerGateway();
    void singleAuthGroup();
    void twoAuthGroups();
    void serverKilledMidSession();
    void repeatedSessionsDoNotGrow();

private:
    Status attempt(StatusRecorder &recorder, const QString &gateway);
    void disconnectAndWait(StatusRecorder &recorder);

    std::shared_ptr<Connection> m_engine;
    // Whether a group was chosen earlier in this process: the choice is
    // kept for the life of the process, so only the first one makes the
    // library fetch the group's own form.
    bool m_groupChosen = false;
};

void TestEngineOpenConnect::initTestCase()
{
    if (!Lab::inside())
        QSKIP("runs only inside the VPN lab (tools/lab/run-in-lab.sh)");
    QVERIFY(Connection::initTls());
    QVERIFY(::geteuid() != 0);
    QCOMPARE(EngineLab::capabilities(QCoreApplication::applicationPid()), EngineLab::noCapabilities());
    m_engine = Connection::instance();
    m_engine->setProtocol(Connection::kOpenConnect);
    m_engine->setServer(std::make_shared<OpenConnectServer>(Lab::value("OCSERV_GATEWAY")));
}

void TestEngineOpenConnect::init()
{
    m_engine->setUsername(Lab::value("USER"));
    m_engine->setPassword(Lab::value("PASSWORD"));
}

void TestEngineOpenConnect::cleanup()
{
    if (m_engine->status() != Connection::Disconnected)
        m_engine->disconnect();
    QTRY_COMPARE_WITH_TIMEOUT(m_engine->status(), Connection::Disconnected, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_engine->isSessionRunning(), 10000);
    m_engine->server()->gateway = Lab::value("OCSERV_GATEWAY");
    m_engine->server()->groupName.clear();
}

Status TestEngineOpenConnect::attempt(StatusRecorder &recorder, const QString &gateway)
{
    if (!QTest::qWaitFor([this] { return !m_engine->isSessionRunning(); }, 10000))
        return Status(-1);
    m_engine->server()->gateway = gateway;
    return EngineLab::attempt(*m_engine, recorder);
}

void TestEngineOpenConnect::disconnectAndWait(StatusRecorder &recorder)
{
    const int ends = recorder.count(Connection::Disconnected);
    m_engine->disconnect();
    QTRY_COMPARE_WITH_TIMEOUT(recorder.count(Connection::Disconnected), ends + 1, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_engine->isSessionRunning(), 10000);
}

void TestEngineOpenConnect::sessionLifecycle()
{
    QVERIFY2(!EngineLab::targetReachable(1000), "the target must not answer without a tunnel");
    StatusRecorder recorder(m_engine.get());
    QCOMPARE(attempt(recorder, Lab::value("OCSERV_GATEWAY")), Connection::Connected);
    QCOMPARE(recorder.statuses, QList<Status>({Connection::Connecting, Connection::Connected}));
    QTRY_COMPARE(m_engine->status(), Connection::Connected);
    QVERIFY2(m_engine->tunnelInfo().ipv4.startsWith(QStringLiteral("10.213.4.")),
             qPrintable(m_engine->tunnelInfo().ipv4));
    QVERIFY(!m_engine->tunnelInfo().cstpCipher.isEmpty());
    // On the device the service made for the lab user.
    const QString device = m_engine->tunnelDevice();
    QVERIFY2(device.startsWith(QStringLiteral("vvpn")) && EngineLab::deviceExists(device), qPrintable(device));

    // Traffic: the target is reached through the tunnel only.
    QVERIFY(EngineLab::targetReachableSoon());

    // Byte counts on request, growing with traffic.
    QCOMPARE(m_engine->update_stats(), 0);
    QTRY_COMPARE(recorder.stats.size(), 1);
    const auto first = recorder.stats.last();
    for (int i = 0; i < 5; ++i)
        QVERIFY(EngineLab::targetReachable());
    QCOMPARE(m_engine->update_stats(), 0);
    QTRY_COMPARE(recorder.stats.size(), 2);
    const auto second = recorder.stats.last();
    QVERIFY2(second.first > first.first && second.second > first.second,
             qPrintable(QStringLiteral("tx %1 -> %2, rx %3 -> %4")
                            .arg(first.first).arg(second.first).arg(first.second).arg(second.second)));

    // A second connect leaves the session alone.
    QCOMPARE(m_engine->connect(), Connection::AlreadyActive);
    QCOMPARE(recorder.statuses.size(), 2);

    m_engine->disconnect();
    QTRY_COMPARE_WITH_TIMEOUT(recorder.last(), Connection::Disconnected, 15000);
    QCOMPARE(recorder.statuses, QList<Status>({Connection::Connecting, Connection::Connected, Connection::Disconnecting,
                                               Connection::Disconnected}));
    QCOMPARE(m_engine->lastError(), QStringLiteral("Disconnected"));
    QVERIFY(!EngineLab::targetReachable(1000));
    QTRY_VERIFY(!EngineLab::deviceExists(device));
}

void TestEngineOpenConnect::wrongPassword()
{
    m_engine->setPassword(Lab::value("BAD_PASSWORD"));
    StatusRecorder recorder(m_engine.get());
    const LogWatch log;
    QCOMPARE(attempt(recorder, Lab::value("OCSERV_GATEWAY")), Connection::Disconnected);
    QCOMPARE(recorder.statuses, QList<Status>({Connection::Connecting, Connection::Disconnected}));
    QCOMPARE(m_engine->lastError(), QStringLiteral("Authentication error; cannot obtain cookie"));
    // The server asked again for the password it had refused: not answered twice.
    QCOMPARE(log.lines().count(QStringLiteral("Password form: password")), 2);
    // Reported before the Disconnected that ends the attempt.
    QCOMPARE(recorder.failures, (QList<QPair<int, TunnelFailure>>{{1, TunnelFailure::CredentialsRejected}}));
}

void TestEngineOpenConnect::cancelledDuringAttempt()
{
    StatusRecorder recorder(m_engine.get());
    QCOMPARE(m_engine->connect(), Connection::Started);
    m_engine->disconnect();
    QVERIFY(EngineLab::waitFor(recorder, {Connection::Disconnected}, 15000));
    QVERIFY(!recorder.statuses.contains(Connection::Connected));
    QVERIFY(recorder.statuses.contains(Connection::Disconnecting));
    QVERIFY(recorder.failures.isEmpty());   // the user asked for it
    QVERIFY(!EngineLab::targetReachable(1000));
}

void TestEngineOpenConnect::keyPinnedPerGateway()
{
    ExtraOcserv second({4443, QStringLiteral("vvpin"), QStringLiteral("10.213.6.0"), {}});
    QVERIFY2(second.start(), qPrintable(second.error()));
    StatusRecorder recorder(m_engine.get());

    // Each server's key is pinned on first use, for that server only.
    QCOMPARE(attempt(recorder, Lab::value("OCSERV_GATEWAY")), Connection::Connected);
    disconnectAndWait(recorder);
    QCOMPARE(attempt(recorder, second.gateway()), Connection::Connected);
    disconnectAndWait(recorder);
    QCOMPARE(attempt(recorder, Lab::value("OCSERV_GATEWAY")), Connection::Connected);
    disconnectAndWait(recorder);

    // The second server comes back with another key: refused before any password is sent.
    QVERIFY2(second.start(), qPrintable(second.error()));
    const LogWatch log;
    const int before = recorder.statuses.size();
    QCOMPARE(attempt(recorder, second.gateway()), Connection::Disconnected);
    QCOMPARE(recorder.statuses.mid(before), QList<Status>({Connection::Connecting, Connection::Disconnected}));
    QVERIFY(log.contains(QStringLiteral("peer's key has changed!")));
    QCOMPARE(recorder.failures.last().second, TunnelFailure::ServerKeyChanged);
    QVERIFY(!log.lines().contains(QStringLiteral("Password form: password")));
    QVERIFY(!log.lines().contains(QStringLiteral("Text form: username")));

    // The first server is still trusted.
    QCOMPARE(attempt(recorder, Lab::value("OCSERV_GATEWAY")), Connection::Connected);
}

void TestEngineOpenConnect::singleAuthGroup()
{
    ExtraOcserv server({4444, QStringLiteral("vvgrp"), QStringLiteral("10.213.7.0"), {QStringLiteral("staff")}});
    QVERIFY2(server.start(), qPrintable(server.error()));
    StatusRecorder recorder(m_engine.get());
    const LogWatch log;
    QCOMPARE(attempt(recorder, server.gateway()), Connection::Connected);
    // The process's first choice: the first form only chose the group (the
    // library fetched that group's form), the second one was filled. After
    // an earlier choice the first form is filled at once.
    QCOMPARE(log.lines().count(QStringLiteral("Please enter your username.")), m_groupChosen ? 1 : 2);
    m_groupChosen = true;
    QCOMPARE(log.lines().count(QStringLiteral("Text form: username")), 1);
    QCOMPARE(log.lines().count(QStringLiteral("Select form: group_list")), 1);
    QVERIFY(EngineLab::targetReachableSoon());
    disconnectAndWait(recorder);
}

void TestEngineOpenConnect::twoAuthGroups()
{
    ExtraOcserv server({4445, QStringLiteral("vvgrq"), QStringLiteral("10.213.8.0"),
                        {QStringLiteral("staff"), QStringLiteral("guests")}});
    QVERIFY2(server.start(), qPrintable(server.error()));
    StatusRecorder recorder(m_engine.get());
    {
        // No group named: nothing to choose with, the login is cancelled.
        const LogWatch log;
        QCOMPARE(attempt(recorder, server.gateway()), Connection::Disconnected);
        QCOMPARE(recorder.statuses, QList<Status>({Connection::Connecting, Connection::Disconnected}));
        QVERIFY(!log.lines().contains(QStringLiteral("Text form: username")));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!m_engine->isSessionRunning(), 10000);

    m_engine->server()->groupName = QStringLiteral("guests");
    QCOMPARE(attempt(recorder, server.gateway()), Connection::Connected);
    m_groupChosen = true;
    QVERIFY(EngineLab::targetReachableSoon());
    disconnectAndWait(recorder);
}

void TestEngineOpenConnect::serverKilledMidSession()
{
    StatusRecorder recorder(m_engine.get());
    QCOMPARE(attempt(recorder, Lab::value("OCSERV_GATEWAY")), Connection::Connected);
    QVERIFY2(Lab::killServer(QStringLiteral("ocserv")), qPrintable(Lab::lastError()));
    // Back without our session: either the server said goodbye or the
    // library's reconnect is turned away.
    QVERIFY2(Lab::startServer(QStringLiteral("ocserv")), qPrintable(Lab::lastError()));
    QVERIFY(EngineLab::waitFor(recorder, {Connection::Disconnected}, 60000));
    QCOMPARE(recorder.statuses, QList<Status>({Connection::Connecting, Connection::Connected, Connection::Disconnected}));
    QVERIFY(!EngineLab::targetReachable(1000));
}

void TestEngineOpenConnect::repeatedSessionsDoNotGrow()
{
    StatusRecorder recorder(m_engine.get());
    EngineLab::verifyCyclesDoNotGrow("OpenConnect", 5, [&] {
        QCOMPARE(attempt(recorder, Lab::value("OCSERV_GATEWAY")), Connection::Connected);
        disconnectAndWait(recorder);
    });
}

QTEST_GUILESS_MAIN(TestEngineOpenConnect)
#include "tst_engine_openconnect.moc"
