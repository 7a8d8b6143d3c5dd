// The VPN engine alone against the lab's real servers, in the client namespace
// as the lab user beside the lab's service (OpenVPN through Debian's openvpn);
// a row per protocol where both share the behaviour.
#include "labfixture.h"
#include "unit/vpn/logwatch.h"
#include "unit/vpn/statusrecorder.h"
#include "vpn/openconnectconnection.h"
#include "vpn/openconnectserver.h"
#include "vpn/openvpnrunner.h"

#include <QTemporaryFile>
#include <QtTest>

#include <csignal>
#include <unistd.h>

using namespace Varnel;
using C = OpenConnectConnection;
using Status = C::Status;

namespace {

enum Fault { WrongPassword, Cancelled, ServerKilled, ProcessKilled };

// Runs iperf3 against the target for a second (reverse: download).
bool transfer(bool reverse)
{
    QProcess iperf;
    QStringList arguments{QStringLiteral("-c"), Lab::value("TARGET"), QStringLiteral("-p"), Lab::value("IPERF_PORT"),
                          QStringLiteral("-t"), QStringLiteral("1")};
    if (reverse)
        arguments << QStringLiteral("-R");
    iperf.start(QStringLiteral("iperf3"), arguments);
    return iperf.waitForFinished(20000) && iperf.exitCode() == 0;
}

} // namespace

class TestEngine : public QObject
{
    Q_OBJECT

    std::shared_ptr<C> m_engine = C::instance();

    OpenVpnRunner *runner() const { return m_engine->findChild<OpenVpnRunner *>(); }
    bool settled() const
    {
        return QTest::qWaitFor([this] { return !m_engine->isSessionRunning() && !runner(); }, 15000);
    }
    // Connects and waits for the attempt's outcome (Connected or Disconnected);
    // -1 when it did not start or did not end in time.
    Status attempt(const StatusRecorder &recorder)
    {
        const int before = recorder.statuses.size();
        if (!settled() || m_engine->connect() != C::Started)
            return Status(-1);
        const bool ended = QTest::qWaitFor([&] {
            return recorder.statuses.size() > before
                && (recorder.last() == C::Connected || recorder.last() == C::Disconnected);
        }, 30000);
        return ended ? recorder.last() : Status(-1);
    }
    // The byte counts of the first report made after now: OpenConnect's on
    // request, OpenVPN's once a second (the next one may have been made before).
    QPair<quint64, quint64> nextStats(const StatusRecorder &recorder)
    {
        QCoreApplication::processEvents();
        const int seen = recorder.stats.size();
        const bool requested = m_engine->update_stats() == 0;
        if (!QTest::qWaitFor([&] { return recorder.stats.size() >= seen + (requested ? 1 : 2); }, 5000))
            return {};
        return recorder.stats.last();
    }

private slots:
    void initTestCase()
    {
        if (!Lab::inside())
            QSKIP("runs only inside the VPN lab (tools/lab/run-in-lab.sh)");
        QVERIFY(C::initTls());
        QVERIFY(::geteuid() != 0);
        m_engine->setServer(std::make_shared<OpenConnectServer>(Lab::value("OCSERV_GATEWAY")));
        m_engine->setOpenVpnConfig(Lab::value("OPENVPN_TEMPLATE_B64"), Lab::value("OPENVPN_ADDRESS"));
    }

    void init()
    {
        QFETCH(bool, openVpn);
        m_engine->setProtocol(openVpn ? C::kOpenVpn : C::kOpenConnect);
        m_engine->setUsername(Lab::value("USER"));
        m_engine->setPassword(Lab::value("PASSWORD"));
    }

    void cleanup()
    {
        Lab::control({"start", "ocserv"});   // refused when it runs
        if (m_engine->status() != C::Disconnected)
            m_engine->disconnect();
        QTRY_COMPARE_WITH_TIMEOUT(m_engine->status(), C::Disconnected, 15000);
        QVERIFY(settled());
        m_engine->server()->gateway = Lab::value("OCSERV_GATEWAY");
        m_engine->server()->groupName.clear();
        QVERIFY(!Lab::targetReachable());
        QTRY_VERIFY(Lab::tunnelDevice().isEmpty());
    }

    void session_data()
    {
        QTest::addColumn<bool>("openVpn");
        QTest::newRow("OpenConnect") << false;
        QTest::newRow("OpenVPN") << true;
    }
    void session()
    {
        QFETCH(bool, openVpn);
        QVERIFY2(!Lab::targetReachable(), "the target must not answer without a tunnel");
        StatusRecorder recorder(m_engine.get());
        QCOMPARE(attempt(recorder), C::Connected);
        // OpenVPN's configuration reaches it through its input, never a file.
        QCOMPARE(runner() && !runner()->findChild<QTemporaryFile *>(), openVpn);
        // OpenVPN reports each connecting step: Connecting may come more than once.
        QCOMPARE(recorder.statuses.first(), C::Connecting);
        QCOMPARE(recorder.count(C::Connecting) + 1, recorder.statuses.size());
        QVERIFY(openVpn || recorder.statuses.size() == 2);
        // On the device the service made for the lab user.
        const QString device = m_engine->tunnelDevice();
        QVERIFY2(device.startsWith(QStringLiteral("vvpn")) && device == Lab::tunnelDevice(), qPrintable(device));
        if (!openVpn) {
            QVERIFY2(m_engine->tunnelInfo().ipv4.startsWith(Lab::value("OCSERV_NETWORK").section(QLatin1Char('.'), 0, 2)),
                     qPrintable(m_engine->tunnelInfo().ipv4));
            QVERIFY(!m_engine->tunnelInfo().cstpCipher.isEmpty());
        }
        QVERIFY(Lab::targetReachableSoon());

        // Byte counts: tx is what was sent, rx what was received.
        const auto start = nextStats(recorder);
        QVERIFY(transfer(false));
        const auto afterUpload = nextStats(recorder);
        QVERIFY(transfer(true));
        const auto afterDownload = nextStats(recorder);
        const quint64 sentInUpload = afterUpload.first - start.first;
        const quint64 receivedInDownload = afterDownload.second - afterUpload.second;
        const quint64 sentInDownload = afterDownload.first - afterUpload.first;
        QVERIFY2(sentInUpload > 1000000 && receivedInDownload > 1000000 && sentInDownload < receivedInDownload / 5,
                 qPrintable(QStringLiteral("upload tx %1, download rx %2 tx %3")
                                .arg(sentInUpload).arg(receivedInDownload).arg(sentInDownload)));

        // A second connect leaves the session alone.
        const int before = recorder.statuses.size();
        QCOMPARE(m_engine->connect(), C::AlreadyActive);
        m_engine->disconnect();
        QTRY_COMPARE_WITH_TIMEOUT(recorder.last(), C::Disconnected, 15000);
        const QList<Status> ending = openVpn ? QList<Status>{C::Disconnected}
                                             : QList<Status>{C::Disconnecting, C::Disconnected};
        QCOMPARE(recorder.statuses.mid(before), ending);
        QVERIFY(recorder.failures.isEmpty());
        if (!openVpn)
            QCOMPARE(m_engine->lastError(), QStringLiteral("Disconnected"));
        QTRY_VERIFY(Lab::tunnelDevice().isEmpty());
    }

    // Each ends in exactly one Disconnected, the failure (if any) told before it.
    void faults_data()
    {
        QTest::addColumn<bool>("openVpn");
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("failure");
        const auto row = [](bool openVpn, Fault fault, TunnelFailure failure, const char *what) {
            QTest::addRow("%s, %s", openVpn ? "OpenVPN" : "OpenConnect", what) << openVpn << int(fault) << int(failure);
        };
        for (bool openVpn : {false, true}) {
            row(openVpn, WrongPassword, TunnelFailure::CredentialsRejected, "wrong password");
            // The user asked for it: no failure.
            row(openVpn, Cancelled, TunnelFailure::None, "cancelled during the attempt");
        }
        row(false, ServerKilled, TunnelFailure::ConnectionLost, "server killed mid-session");
        row(true, ProcessKilled, TunnelFailure::ConnectionLost, "process killed mid-session");
    }
    void faults()
    {
        QFETCH(bool, openVpn);
        QFETCH(int, fault);
        QFETCH(int, failure);
        const bool midSession = fault == ServerKilled || fault == ProcessKilled;
        if (fault == WrongPassword)
            m_engine->setPassword(Lab::value("BAD_PASSWORD"));
        StatusRecorder recorder(m_engine.get());
        const LogWatch log;
        if (fault == Cancelled) {
            QCOMPARE(m_engine->connect(), C::Started);
            m_engine->disconnect();
        } else {
            QCOMPARE(attempt(recorder), midSession ? C::Connected : C::Disconnected);
        }
        QPointer<OpenVpnRunner> current = runner();
        if (fault == ServerKilled) {
            QVERIFY2(Lab::control({"kill", "ocserv", "TERM"}), qPrintable(Lab::lastError));
            // Back without our session: either the server said goodbye or the
            // library's reconnect is turned away.
            QVERIFY2(Lab::control({"start", "ocserv"}), qPrintable(Lab::lastError));
        } else if (fault == ProcessKilled) {
            QCOMPARE(::kill(pid_t(current->findChild<QProcess *>()->processId()), SIGKILL), 0);
        }
        QTRY_COMPARE_WITH_TIMEOUT(recorder.last(), C::Disconnected, 60000);
        QVERIFY(settled());
        QTRY_VERIFY(current.isNull());
        // An OpenVPN runner that is gone has ended: a disconnect adds nothing.
        if (openVpn)
            m_engine->disconnect();
        // Nothing may follow: a further status would be queued at once.
        QTest::qWait(50);
        QCOMPARE(recorder.count(C::Disconnected), 1);
        QCOMPARE(recorder.count(C::Connected), midSession ? 1 : 0);
        // A cancel may overtake the session's first report.
        if (fault != Cancelled)
            QCOMPARE(recorder.statuses.first(), C::Connecting);
        if (failure == int(TunnelFailure::None)) {
            QVERIFY(recorder.failures.isEmpty());
        } else {
            QCOMPARE(recorder.failures.size(), 1);
            QCOMPARE(int(recorder.failures.first().second), failure);
            QCOMPARE(recorder.failures.first().first, recorder.statuses.size() - 1);
        }
        if (fault == WrongPassword && !openVpn) {
            QCOMPARE(m_engine->lastError(), QStringLiteral("Authentication error; cannot obtain cookie"));
            // The server asked again for the password it had refused: not answered twice.
            QCOMPARE(log.lines().count(QStringLiteral("Password form: password")), 2);
        }
    }

    // ocserv with authentication groups: a single one is chosen by itself (the
    // form that names it, then the group's own form, filled); among two the
    // profile's groupName chooses, and without one the login is cancelled.
    void authGroups_data()
    {
        QTest::addColumn<bool>("openVpn");
        QTest::addColumn<QStringList>("groups");
        QTest::addColumn<QString>("groupName");
        QTest::addColumn<int>("port");   // a server of its own: a key is pinned per address and port
        QTest::newRow("one group") << false << QStringList{"staff"} << QString() << 4443;
        QTest::newRow("two groups, none named") << false << QStringList{"staff", "guests"} << QString() << 4444;
        QTest::newRow("two groups, one named") << false << QStringList{"staff", "guests"} << "guests" << 4445;
    }
    void authGroups()
    {
        QFETCH(QStringList, groups);
        QFETCH(QString, groupName);
        QFETCH(int, port);
        // The choice is kept for the life of the process: only the first one
        // makes the library fetch the group's own form.
        static bool groupChosen = false;
        ExtraOcserv server(quint16(port), groups);
        QVERIFY2(server.start(), qPrintable(Lab::lastError));
        m_engine->server()->gateway = server.gateway();
        m_engine->server()->groupName = groupName;
        StatusRecorder recorder(m_engine.get());
        const LogWatch log;
        const bool chooses = groups.size() == 1 || !groupName.isEmpty();
        QCOMPARE(attempt(recorder), chooses ? C::Connected : C::Disconnected);
        QCOMPARE(log.lines().count(QStringLiteral("Text form: username")), chooses ? 1 : 0);
        if (!chooses)
            return;
        if (groups.size() == 1) {
            QCOMPARE(log.lines().count(QStringLiteral("Please enter your username.")), groupChosen ? 1 : 2);
            QCOMPARE(log.lines().count(QStringLiteral("Select form: group_list")), 1);
        }
        groupChosen = true;
        QVERIFY(Lab::targetReachableSoon());
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    TestEngine test;
    return exec(&test, argc, argv);
}

#include "tst_engine_e2e.moc"
