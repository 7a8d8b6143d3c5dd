#include "labfixture.h"
#include "servicefixture.h"

#include "vpn/scriptrunner.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

using namespace Varnel;

namespace {

const QString kProbeTable = QStringLiteral("vvks_probe");
// Ports nothing in the lab serves, for direct traffic that must not arrive.
constexpr quint16 kTcpProbePort = 22;
constexpr quint16 kUdpProbePort = 9;

} // namespace

// The real kill-switch scripts, installed as the package installs them and
// loaded by the real service, inside the client namespace of the lab. The
// server namespace counts what arrives from the client over the raw link,
// so "blocked" means no packet got there.
class TestKillSwitchLab : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    // Each starts without a block; those that need one put it up first.
    void blockLeavesOnlyLoopback();
    void tunnelThroughTheBlock();
    void serverStaysBlockedWithoutATunnel();
    void liftRestoresDirectTraffic();

private:
    static ScriptResult run(const QString &program, const QStringList &arguments)
    {
        return ScriptRunner(30000).run(program, arguments);
    }
    static QByteArray ruleset();
    static ScriptResult serverNft(const QStringList &arguments);
    // Packets counted by the named counter of the probe table in the server namespace.
    static qint64 serverCount(const QString &counter);
    static bool tcpConnects(const QString &host, quint16 port, int timeoutMs = 3000);
    static void sendDatagram(const QString &host, quint16 port);
    static QString serverAddress() { return Lab::value("SERVER_ADDR"); }

    // Sends the direct probes (TCP and UDP to ports nothing serves); true
    // when none of them reached the server.
    bool directProbesBlocked();
    // Asks the service, as root, for the kill switch on or off; true when
    // the block is then as asked.
    bool killSwitch(bool on);
    // Starts Debian's openconnect on the device (its own when empty) and
    // waits until the target answers through its tunnel; false when it
    // does not within waitMs.
    bool startOpenConnect(const QString &device, int waitMs);
    bool targetReachable() const
    {
        return tcpConnects(Lab::value("TARGET"), quint16(Lab::value("IPERF_PORT").toUInt()), 1000);
    }

    QTemporaryDir m_work;
    ServiceInstance m_service {QStringLiteral(VARNEL_SERVICE_EXECUTABLE), QStringLiteral(KILLSWITCH_PACKAGE),
                               m_work.path()};
    QByteArray m_rulesetBefore;
    std::unique_ptr<QProcess> m_client;
};

QByteArray TestKillSwitchLab::ruleset()
{
    return run(QStringLiteral("nft"), {QStringLiteral("list"), QStringLiteral("ruleset")}).standardOutput;
}

ScriptResult TestKillSwitchLab::serverNft(const QStringList &arguments)
{
    return run(QStringLiteral("ip"),
               QStringList({QStringLiteral("netns"), QStringLiteral("exec"), Lab::value("NS_SERVER"),
                            QStringLiteral("nft")})
                   + arguments);
}

qint64 TestKillSwitchLab::serverCount(const QString &counter)
{
    const ScriptResult listed = serverNft(
        {QStringLiteral("list"), QStringLiteral("counter"), QStringLiteral("inet"), kProbeTable, counter});
    const auto match = QRegularExpression(QStringLiteral("packets (\\d+)")).match(QString::fromUtf8(listed.standardOutput));
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

bool TestKillSwitchLab::tcpConnects(const QString &host, quint16 port, int timeoutMs)
{
    QTcpSocket socket;
    socket.connectToHost(host, port);
    const bool connected = socket.waitForConnected(timeoutMs);
    socket.abort();
    return connected;
}

void TestKillSwitchLab::sendDatagram(const QString &host, quint16 port)
{
    QUdpSocket socket;
    socket.writeDatagram(QByteArrayLiteral("kill-switch probe"), QHostAddress(host), port);
}

bool TestKillSwitchLab::directProbesBlocked()
{
    const qint64 before = serverCount(QStringLiteral("probe"));
    const bool tcp = tcpConnects(serverAddress(), kTcpProbePort, 2000);
    sendDatagram(serverAddress(), kUdpProbePort);
    // Nothing may arrive: one let through is counted within microseconds over the veth link.
    QTest::qWait(100);
    const qint64 after = serverCount(QStringLiteral("probe"));
    qInfo("direct probes: tcp connected %d, server counted %lld -> %lld", tcp, before, after);
    return before >= 0 && after == before && !tcp;
}

bool TestKillSwitchLab::killSwitch(bool on)
{
    ServicePeer root(m_service.socket(), 0);
    return root.request(on ? "v1 killswitch\nstate on\n" : "v1 killswitch\nstate off\n") == QLatin1String("ok")
           && root.field("block") == (on ? "on" : "off");
}

bool TestKillSwitchLab::startOpenConnect(const QString &device, int waitMs)
{
    QStringList arguments = {QStringLiteral("--protocol=anyconnect"), QStringLiteral("--user=") + Lab::value("USER"),
                             QStringLiteral("--passwd-on-stdin"), QStringLiteral("--non-inter"),
                             QStringLiteral("--servercert"), Lab::value("OCSERV_PIN"), QStringLiteral("--script"),
                             QStringLiteral("/usr/share/vpnc-scripts/vpnc-script"), Lab::value("OCSERV_URL")};
    if (!device.isEmpty())
        arguments.prepend(QStringLiteral("--interface=") + device);
    m_client = std::make_unique<QProcess>();
    m_client->setProcessChannelMode(QProcess::MergedChannels);
    m_client->start(QStringLiteral("openconnect"), arguments);
    if (!m_client->waitForStarted(5000))
        return false;
    m_client->write(Lab::value("PASSWORD").toUtf8() + '\n');
    m_client->closeWriteChannel();
    bool reached = false;
    if (QTest::qWaitFor([&] { return (reached = targetReachable()) || m_client->state() != QProcess::Running; }, waitMs)
        && reached)
        return true;
    qInfo("%s", m_client->readAll().right(3000).constData());
    return false;
}

void TestKillSwitchLab::initTestCase()
{
    if (!Lab::inside())
        QSKIP("runs only inside the VPN lab (tools/lab/run-in-lab.sh)");
    // Never against the host's firewall: this process must live in a
    // network namespace of its own.
    // (The links' own texts, "net:[inode]": QFileInfo would prefix each with its own path.)
    const auto netNamespace = [](const char *process) {
        char link[64] = {};
        return ::readlink(QByteArray("/proc/") + process + "/ns/net", link, sizeof link - 1) > 0 ? QByteArray(link)
                                                                                                 : QByteArray();
    };
    QVERIFY2(!netNamespace("self").isEmpty() && netNamespace("self") != netNamespace("1"),
             "not inside a network namespace");
    QVERIFY(m_work.isValid());
    m_rulesetBefore = ruleset();
    // The package's installation step, then the service on it.
    QVERIFY(m_service.start());
    for (const char *name : {"block_outbound_except_vpn.nft", "reset_firewall_rules.nft"}) {
        struct stat info {};
        QVERIFY(::stat(QFile::encodeName(m_service.dataDir() + QLatin1Char('/') + QLatin1String(name)), &info) == 0);
        QCOMPARE(info.st_uid, uid_t(0));
        QCOMPARE(info.st_mode & 07777, mode_t(0755));
    }

    // Counters on the server side of the raw link: everything from it but
    // what keeps the link's addresses (the block lets that out), and the
    // direct probes.
    QFile probes(m_work.filePath(QStringLiteral("probes.nft")));
    QVERIFY(probes.open(QIODevice::WriteOnly));
    probes.write(QStringLiteral("table inet %1 {\n"
                                "  counter link {}\n"
                                "  counter probe {}\n"
                                "  chain count {\n"
                                "    type filter hook prerouting priority raw; policy accept;\n"
                                "    icmpv6 type { nd-router-solicit, nd-neighbor-solicit, nd-neighbor-advert,"
                                " mld-listener-report, mld2-listener-report } return\n"
                                "    udp dport { 67, 547 } return\n"
                                "    iifname \"%2\" counter name \"link\"\n"
                                "    iifname \"%2\" tcp dport %3 counter name \"probe\"\n"
                                "    iifname \"%2\" udp dport %4 counter name \"probe\"\n"
                                "  }\n"
                                "}\n")
                     .arg(kProbeTable, Lab::value("VETH_SERVER"))
                     .arg(kTcpProbePort)
                     .arg(kUdpProbePort)
                     .toUtf8());
    probes.close();
    const ScriptResult counted = serverNft({QStringLiteral("-f"), probes.fileName()});
    QVERIFY2(counted.succeeded(), counted.standardError.constData());
    QCOMPARE(serverCount(QStringLiteral("link")), 0);

    // Before any block the probes do arrive (so their absence later means something).
    sendDatagram(serverAddress(), kUdpProbePort);
    QTRY_COMPARE(serverCount(QStringLiteral("probe")), 1);
}

void TestKillSwitchLab::init()
{
    // No block, whatever ran before.
    QVERIFY(killSwitch(false));
    QCOMPARE(ruleset(), m_rulesetBefore);
}

void TestKillSwitchLab::cleanup()
{
    if (m_client)
        Lab::endProcess(*m_client, 10000);
    m_client.reset();
}

void TestKillSwitchLab::cleanupTestCase()
{
    if (!Lab::inside())
        return;
    cleanup();
    killSwitch(false);
    m_service.stop();
    serverNft({QStringLiteral("delete"), QStringLiteral("table"), QStringLiteral("inet"), kProbeTable});
}

void TestKillSwitchLab::blockLeavesOnlyLoopback()
{
    QVERIFY(killSwitch(true));
    QFile state(m_service.dataDir() + QStringLiteral("/service.txt"));
    QVERIFY(state.open(QIODevice::ReadOnly));
    QCOMPARE(state.readAll(), QByteArray("KillSwith:ON"));
    const QByteArray blocked = ruleset();

    // Asked again: the same rules, once.
    QVERIFY(killSwitch(true));
    QCOMPARE(ruleset(), blocked);

    const qint64 link = serverCount(QStringLiteral("link"));
    QVERIFY(!tcpConnects(serverAddress(), quint16(Lab::value("OCSERV_PORT").toUInt())));
    sendDatagram(serverAddress(), kUdpProbePort);
    QVERIFY(directProbesBlocked());
    QCOMPARE(serverCount(QStringLiteral("link")), link);

    // Loopback still works.
    QTcpServer local;
    QVERIFY(local.listen(QHostAddress::LocalHost));
    QVERIFY(tcpConnects(QStringLiteral("127.0.0.1"), local.serverPort()));
}

// What the service lets through the block for a tunnel (its endpoint and
// the device it made) is enough for a real one, UDP and TCP.
void TestKillSwitchLab::tunnelThroughTheBlock()
{
    QVERIFY(killSwitch(true));
    auto opener = std::make_unique<ServicePeer>(m_service.socket(), 0);
    QCOMPARE(opener->request("v1 open\nprotocol openconnect\nendpoint " + serverAddress().toStdString() + "\nport "
                             + Lab::value("OCSERV_PORT").toStdString() + "\ntransport both\nkillswitch on\n"),
             QStringLiteral("ok"));
    const QString device = QString::fromStdString(opener->field("device"));
    QVERIFY2(startOpenConnect(device, 25000), "no tunnel through the block");
    // Its UDP flow as well as the TCP one (DTLS falls back to TCP silently).
    QByteArray output;
    QTRY_VERIFY_WITH_TIMEOUT((output += m_client->readAll()).contains("Established DTLS connection"), 10000);
    // Direct traffic stays blocked while the tunnel carries the rest.
    QVERIFY(directProbesBlocked());
    QVERIFY(targetReachable());

    // The tunnel's end closes its way through the block.
    opener.reset();
    QTRY_VERIFY(!run(QStringLiteral("ip"), {QStringLiteral("link"), QStringLiteral("show"), QStringLiteral("dev"), device})
                     .succeeded());
    QVERIFY(!targetReachable());
    QVERIFY(!tcpConnects(serverAddress(), quint16(Lab::value("OCSERV_PORT").toUInt()), 1000));
}

void TestKillSwitchLab::serverStaysBlockedWithoutATunnel()
{
    QVERIFY(killSwitch(true));
    QVERIFY(!targetReachable());
    // No tunnel opened through the service: nothing of it passes (a tunnel
    // comes up within about 3 s when it does).
    QVERIFY2(!startOpenConnect(QString(), 10000), "a tunnel the service did not open got through");
}

void TestKillSwitchLab::liftRestoresDirectTraffic()
{
    QVERIFY(killSwitch(true));
    QVERIFY(directProbesBlocked());
    QVERIFY(!targetReachable());
    QVERIFY(killSwitch(false));
    QFile state(m_service.dataDir() + QStringLiteral("/service.txt"));
    QVERIFY(state.open(QIODevice::ReadOnly));
    QCOMPARE(state.readAll(), QByteArray("KillSwith:OFF"));
    QCOMPARE(ruleset(), m_rulesetBefore);

    QVERIFY(tcpConnects(serverAddress(), quint16(Lab::value("OCSERV_PORT").toUInt())));
    const qint64 probes = serverCount(QStringLiteral("probe"));
    sendDatagram(serverAddress(), kUdpProbePort);
    QTRY_COMPARE(serverCount(QStringLiteral("probe")), probes + 1);

    // Without a block in place it succeeds and changes nothing.
    QVERIFY(killSwitch(false));
    QCOMPARE(ruleset(), m_rulesetBefore);
}

QTEST_GUILESS_MAIN(TestKillSwitchLab)

#include "tst_killswitch_lab.moc"
