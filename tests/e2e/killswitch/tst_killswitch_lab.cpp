#include "killswitchsandbox.h"
#include "labfixture.h"
#include "support/debuglines.h"

#include "common/config.h"
#include "platform/datadir.h"
#include "vpn/killswitch.h"
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

#include <unistd.h>

using namespace Varnel;
using KillSwitch::Runner;

namespace {

// The tunnel group the block lets through; no account uses this number.
const char kTunnelGid[] = "64123";
const QString kProbeTable = QStringLiteral("vvks_probe");
// Ports nothing in the lab serves, for direct traffic that must not arrive.
constexpr quint16 kTcpProbePort = 22;
constexpr quint16 kUdpProbePort = 9;

} // namespace

// The real kill-switch scripts, installed by the packaging script into a
// private data directory and run by the client's runners, inside the client
// namespace of the lab. The server namespace counts what arrives from the
// client over the raw link, so "blocked" means no packet got there.
class TestKillSwitchLab : public QObject
{
    Q_OBJECT
public:
    explicit TestKillSwitchLab(const KillSwitchSandbox &sandbox) : m_sandbox(sandbox) {}

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    // Each starts without a block; those that need one put it up first.
    void blockLeavesOnlyLoopback();
    void openConnectTunnelThroughTheBlock();
    void tunnelProgramOutsideTheGroupStaysBlocked();
    void resetRestoresDirectTraffic();
    void failuresAreReported();

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
    // The block as the settings toggle puts it up (switch off before); true when it is up.
    bool blockWithToggle();
    // Starts Debian's openconnect as the tunnel group (or not) and waits
    // until the target answers through its tunnel; false when it does not
    // within waitMs.
    bool startOpenConnect(bool asTunnelGroup, int waitMs);
    bool targetReachable() const
    {
        return tcpConnects(Lab::value("TARGET"), quint16(Lab::value("IPERF_PORT").toUInt()), 1000);
    }

    const KillSwitchSandbox &m_sandbox;
    QByteArray m_rulesetBefore;
    std::unique_ptr<QProcess> m_client;
    QTemporaryDir m_work;
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

bool TestKillSwitchLab::startOpenConnect(bool asTunnelGroup, int waitMs)
{
    QStringList command = {QStringLiteral("openconnect"), QStringLiteral("--protocol=anyconnect"),
                           QStringLiteral("--user=") + Lab::value("USER"), QStringLiteral("--passwd-on-stdin"),
                           QStringLiteral("--non-inter"), QStringLiteral("--servercert"), Lab::value("OCSERV_PIN"),
                           QStringLiteral("--script"), QStringLiteral("/usr/share/vpnc-scripts/vpnc-script"),
                           Lab::value("OCSERV_URL")};
    if (asTunnelGroup) {
        command = QStringList({QStringLiteral("setpriv"), QStringLiteral("--regid=") + QLatin1String(kTunnelGid),
                               QStringLiteral("--clear-groups"), QStringLiteral("--")})
            + command;
    }
    m_client = std::make_unique<QProcess>();
    m_client->setProcessChannelMode(QProcess::MergedChannels);
    m_client->start(command.takeFirst(), command);
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
    QVERIFY2(m_sandbox.isolated(), "the scripts must resolve to the private data directory");
    QVERIFY(m_work.isValid());

    // The set-up step, into the private data directory.
    qputenv("VARNELVPN_TUNNEL_GROUP", kTunnelGid);
    const ScriptResult installed =
        run(QStringLiteral(KILLSWITCH_PACKAGE "/install.sh"), {m_sandbox.dataDir()});
    QVERIFY2(installed.succeeded(), installed.standardError.constData());
    for (const QString &name : {blockScriptName(), resetScriptName()}) {
        const QFileInfo script(m_sandbox.dataDir() + QLatin1Char('/') + name);
        QVERIFY2(script.isExecutable(), qPrintable(name));
        QVERIFY(!script.permission(QFile::WriteGroup) && !script.permission(QFile::WriteOther));
    }
    QVERIFY(QFileInfo(m_sandbox.stateFile()).permission(QFile::WriteOther));

    m_rulesetBefore = ruleset();

    // Counters on the server side of the raw link: everything from it, and
    // the direct probes.
    QFile probes(m_work.filePath(QStringLiteral("probes.nft")));
    QVERIFY(probes.open(QIODevice::WriteOnly));
    probes.write(QStringLiteral("table inet %1 {\n"
                                "  counter link {}\n"
                                "  counter probe {}\n"
                                "  chain count {\n"
                                "    type filter hook prerouting priority raw; policy accept;\n"
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
    // No block and the switch off, whatever ran before.
    const ScriptResult reset = run(m_sandbox.dataDir() + QLatin1Char('/') + resetScriptName(), {});
    QVERIFY2(reset.succeeded(), reset.standardError.constData());
    QCOMPARE(ruleset(), m_rulesetBefore);
    Config::instance()->setKillSwitch(false);
    Config::instance()->save();
}

bool TestKillSwitchLab::blockWithToggle()
{
    expectDebugLine("bat file finished with exit code: 0");
    return !Config::instance()->connectionState() && KillSwitch::toggle()
        && ruleset().contains("table inet varnelvpn_killswitch");
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
    run(m_sandbox.dataDir() + QLatin1Char('/') + resetScriptName(), {});
    serverNft({QStringLiteral("delete"), QStringLiteral("table"), QStringLiteral("inet"), kProbeTable});
}

void TestKillSwitchLab::blockLeavesOnlyLoopback()
{
    // The toggle, while no tunnel is up, runs the block.
    QVERIFY(blockWithToggle());
    QCOMPARE(KillSwitchSandbox::readFile(m_sandbox.stateFile()), QByteArray("KillSwith:ON"));
    const QByteArray blocked = ruleset();

    // Once more, through the connect page's runner: the same rules, once.
    const auto again = KillSwitch::runScript(Runner::ConnectPage, true);
    QVERIFY(again && again->succeeded());
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

void TestKillSwitchLab::openConnectTunnelThroughTheBlock()
{
    QVERIFY(blockWithToggle());
    QVERIFY2(startOpenConnect(true, 25000), "no tunnel through the block");
    // Its UDP flow as well as the TCP one (DTLS falls back to TCP silently).
    QByteArray output;
    QTRY_VERIFY_WITH_TIMEOUT((output += m_client->readAll()).contains("Established DTLS connection"), 10000);
    // Direct traffic stays blocked while the tunnel carries the rest.
    QVERIFY(directProbesBlocked());
    QVERIFY(targetReachable());
}

void TestKillSwitchLab::tunnelProgramOutsideTheGroupStaysBlocked()
{
    QVERIFY(blockWithToggle());
    QVERIFY(!targetReachable());
    // Without the tunnel group its connection to the server is dropped (a
    // tunnel comes up within about 3 s when it is not).
    QVERIFY2(!startOpenConnect(false, 10000), "a program outside the tunnel group got through");
}

void TestKillSwitchLab::resetRestoresDirectTraffic()
{
    QVERIFY(blockWithToggle());
    QVERIFY(directProbesBlocked());
    QVERIFY(!targetReachable());
    expectDebugLine("bat file finished with exit code: 0");
    QVERIFY(!KillSwitch::toggle());
    QCOMPARE(KillSwitchSandbox::readFile(m_sandbox.stateFile()), QByteArray("KillSwith:OFF"));
    QCOMPARE(ruleset(), m_rulesetBefore);

    QVERIFY(tcpConnects(serverAddress(), quint16(Lab::value("OCSERV_PORT").toUInt())));
    const qint64 probes = serverCount(QStringLiteral("probe"));
    sendDatagram(serverAddress(), kUdpProbePort);
    QTRY_COMPARE(serverCount(QStringLiteral("probe")), probes + 1);

    // Without a block in place it succeeds and changes nothing.
    const auto again = KillSwitch::runScript(Runner::ConnectPage, false);
    QVERIFY(again && again->succeeded());
    QCOMPARE(ruleset(), m_rulesetBefore);
}

void TestKillSwitchLab::failuresAreReported()
{
    const QString block = m_sandbox.dataDir() + QLatin1Char('/') + blockScriptName();
    const QString reset = m_sandbox.dataDir() + QLatin1Char('/') + resetScriptName();

    qputenv("VARNELVPN_NFT", "/nonexistent/nft");
    for (const QString &script : {block, reset}) {
        const ScriptResult missing = run(script, {});
        QCOMPARE(missing.outcome, ScriptResult::Finished);
        QVERIFY(missing.exitCode != 0);
        QVERIFY2(missing.standardError.contains("nft (nftables) is not installed"), missing.standardError.constData());
    }
    qunsetenv("VARNELVPN_NFT");

    // Without privileges (and the data directory readable, so the script
    // itself does start).
    for (const QString &script : {block, reset}) {
        const ScriptResult denied =
            run(QStringLiteral("setpriv"), {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                            QStringLiteral("--clear-groups"), QStringLiteral("--inh-caps=-all"),
                                            QStringLiteral("--bounding-set=-all"), QStringLiteral("--"), script});
        QCOMPARE(denied.outcome, ScriptResult::Finished);
        QVERIFY(denied.exitCode != 0);
        QVERIFY2(denied.standardError.contains("Operation not permitted"), denied.standardError.constData());
    }
    QCOMPARE(ruleset(), m_rulesetBefore);
}

int main(int argc, char **argv)
{
    // Before anything reads the settings or runs a script.
    KillSwitchSandbox sandbox;
    QCoreApplication app(argc, argv);
    TestKillSwitchLab test(sandbox);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_killswitch_lab.moc"
