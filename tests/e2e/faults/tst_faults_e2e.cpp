// Faults a user can meet during a connection, met through the window against
// the lab's real servers: hostile configurations from the backend, a server
// killed, the tunnel device removed, a server that comes back with another
// key, no OpenVPN program. Each ends in
// Disconnected with a message that says what to do, and the next connect
// works. With the kill switch on, the packets that leave the client outside
// a tunnel are counted on the server's side in every state.
#include "engine/extraocserv.h"
#include "faultlab.h"
#include "integration/backend/backendtest.h"
#include "labfixture.h"

#include "common/config.h"
#include "pages/connect/connectpage.h"
#include "vpn/openconnectconnection.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using namespace Varnel;
using namespace Varnel::FaultLab;
using Connection = OpenConnectConnection;

namespace {

constexpr int kHostileIds = 10;
constexpr int kExtraOcservId = 3;
constexpr quint16 kExtraOcservPort = 4446;
// A lost server is given up after 30 s, and noticed within 10 s (the lab's
// ping-restart and dead-peer detection).
constexpr int kLossMs = 60000;

// A hostile configuration of the data file (the lab's working template with
// the hostile lines before it), made concrete.
struct Hostile {
    QString name;
    QString refused;       // what the message must name
    QByteArray config;     // the lab's template with the hostile lines
    QString address;       // as the backend sends it
};

QList<Hostile> hostileConfigurations(const QString &markDir)
{
    QFile file(QStringLiteral(HOSTILE_CONFIGS));
    file.open(QIODevice::ReadOnly);
    QFile templateFile(labValue("OPENVPN_TEMPLATE"));
    templateFile.open(QIODevice::ReadOnly);
    const QByteArray labTemplate = templateFile.readAll();
    QList<Hostile> list;
    for (const QJsonValue &value : QJsonDocument::fromJson(file.readAll()).array()) {
        const QJsonObject entry = value.toObject();
        const auto concrete = [&](QString text) {
            return text.replace(QLatin1String("@DIR@"), markDir)
                .replace(QLatin1String("@SERVER@"), labValue("OPENVPN_HOST"));
        };
        // Before the template's own lines, so that a refused line's number is known.
        QByteArray config;
        for (const QJsonValue &line : entry.value(QLatin1String("lines")).toArray())
            config += concrete(line.toString()).toUtf8() + '\n';
        config += labTemplate;
        list << Hostile{entry.value(QLatin1String("name")).toString(), entry.value(QLatin1String("refused")).toString(),
                        config,
                        entry.contains(QLatin1String("address"))
                            ? concrete(entry.value(QLatin1String("address")).toString())
                            : labValue("OPENVPN_ADDRESS")};
    }
    return list;
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

    RefBackendProcess m_backend;
    QTemporaryDir m_files;
    FaultLab::KillSwitch m_killSwitch;
    LeakCounter m_leaks;
    std::unique_ptr<ExtraOcserv> m_extra;
    std::unique_ptr<LoggedInWindow> m_window;
    QList<Hostile> m_hostile;
    bool m_tunHidden = false;

    QString file(const char *name) const { return m_files.filePath(QLatin1String(name)); }
    QString markDir() const { return file("marks"); }
    QString tempDir() const { return file("tmp"); }
    QString openVpnRecord() const { return file("openvpn-started"); }
    static QStringList entries(const QString &dir)
    {
        return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }
    int attempt(int serverId) { return m_window->attempt(serverId); }
    // The texts of the boxes shown since the last press.
    QString messages() const { return m_window->messages().join(QLatin1Char('|')); }
    int boxes() const { return m_window->messages().size(); }

private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();

    void hostileConfigurationRefused_data();
    void hostileConfigurationRefused();
    void unfilteredOpenVpnWouldObey();
    void connectionLost_data();
    void connectionLost();
    void changedServerKey();
    void openVpnMissing();
    void noTunnelDevice();
    void killSwitchLeaks();
};

void TestFaults::initTestCase()
{
    if (!Lab::inside())
        QSKIP("needs the lab (root, network namespaces): run through tools/lab/run-in-lab.sh");
    QVERIFY(m_files.isValid());
    QVERIFY(QDir().mkpath(markDir()) && QDir().mkpath(tempDir()));
    // The client's private files go here, so what it writes can be seen.
    qputenv("TMPDIR", QFile::encodeName(tempDir()));
    // OpenVPN through a wrapper that notes each start.
    QFile wrapper(file("openvpn"));
    QVERIFY(wrapper.open(QIODevice::WriteOnly));
    wrapper.write(QStringLiteral("#!/bin/sh\necho started >>'%1'\nexec /usr/sbin/openvpn \"$@\"\n")
                      .arg(openVpnRecord())
                      .toUtf8());
    wrapper.close();
    QVERIFY(wrapper.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    qputenv("VARNELVPN_OPENVPN", QFile::encodeName(wrapper.fileName()));

    m_hostile = hostileConfigurations(markDir());
    QVERIFY(m_hostile.size() >= 10);
    QJsonArray extra{server(kExtraOcservId, 2,
                            QStringLiteral("%1:%2").arg(labValue("SERVER_ADDR")).arg(kExtraOcservPort))};
    for (int i = 0; i < m_hostile.size(); ++i)
        extra.append(server(kHostileIds + i, 1, m_hostile.at(i).address, m_hostile.at(i).config));
    QVERIFY2(startBackend(m_backend, extra, file("data.json")), qPrintable(m_backend.errorText()));

    QString error;
    QVERIFY2(m_killSwitch.install(&error), qPrintable(error));
    QVERIFY2(m_leaks.install(&error), qPrintable(error));

    m_window = std::make_unique<LoggedInWindow>();
    QVERIFY2(m_window->open(m_backend, &error), qPrintable(error));
    QCOMPARE(m_window->protection(), QStringLiteral("Not Protected"));
}

void TestFaults::cleanup()
{
    // Whatever a failed test left behind: no tunnel, no block, both servers up.
    QVERIFY(m_window->disconnectAndSettle());
    QVERIFY(m_window->setKillSwitch(false));
    qputenv("VARNELVPN_OPENVPN", QFile::encodeName(file("openvpn")));
    for (const QString &server : {QStringLiteral("ocserv"), QStringLiteral("openvpn")})
        Lab::startServer(server);   // refused when it runs
    QString ignored;
    if (m_tunHidden && Lab::run(QStringLiteral("umount"), {QStringLiteral("/dev/net/tun")}, &ignored))
        m_tunHidden = false;
}

void TestFaults::cleanupTestCase()
{
    if (!Lab::inside())
        return;
    m_window.reset();
    m_extra.reset();
    m_killSwitch.reset();
    m_leaks.remove();
}

void TestFaults::hostileConfigurationRefused_data()
{
    QTest::addColumn<int>("index");
    for (int i = 0; i < m_hostile.size(); ++i)
        QTest::newRow(qPrintable(m_hostile.at(i).name)) << i;
}

void TestFaults::hostileConfigurationRefused()
{
    QFETCH(int, index);
    const Hostile &hostile = m_hostile.at(index);
    QFile::remove(openVpnRecord());
    const QStringList temporary = entries(tempDir());
    QCOMPARE(attempt(kHostileIds + index), int(Connection::Disconnected));
    QTRY_COMPARE(boxes(), 1);
    QVERIFY2(messages().startsWith(QStringLiteral("The configuration of this server was refused: it holds \"%1\"")
                                       .arg(hostile.refused)),
             qPrintable(messages()));
    QCOMPARE(m_window->protection(), QStringLiteral("Not Protected"));
    // OpenVPN never started, and nothing was written: not its files, not even
    // our private configuration file.
    QVERIFY(!QFile::exists(openVpnRecord()));
    QCOMPARE(entries(markDir()), QStringList());
    QCOMPARE(entries(tempDir()), temporary);
}

// What the filter stands between: OpenVPN itself obeys such a line (here it
// writes its log wherever it is told), with our privileges.
void TestFaults::unfilteredOpenVpnWouldObey()
{
    QFile credentials(file("credentials"));
    QVERIFY(credentials.open(QIODevice::WriteOnly));
    credentials.write((user() + QLatin1Char('\n') + password() + QLatin1Char('\n')).toUtf8());
    credentials.close();
    QFile config(file("unfiltered.ovpn"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    QFile templateFile(labValue("OPENVPN_TEMPLATE"));
    QVERIFY(templateFile.open(QIODevice::ReadOnly));
    config.write(templateFile.readAll()
                     .replace("remoteIP", labValue("OPENVPN_HOST").toLatin1())
                     .replace("remotePort", labValue("OPENVPN_PORT").toLatin1())
                 + "log-append " + QFile::encodeName(file("obeyed.log")) + '\n');
    config.close();
    QProcess openvpn;
    openvpn.start(QStringLiteral("/usr/sbin/openvpn"),
                  {QStringLiteral("--config"), config.fileName(), QStringLiteral("--auth-user-pass"),
                   credentials.fileName(), QStringLiteral("--script-security"), QStringLiteral("1")});
    QVERIFY(openvpn.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(file("obeyed.log")), 10000);
    Lab::endProcess(openvpn);
}

void TestFaults::connectionLost_data()
{
    QTest::addColumn<int>("serverId");
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("removeDevice");
    QTest::newRow("OpenConnect, server killed") << kOcserv << "ocserv" << false;
    QTest::newRow("OpenVPN, server killed") << kOpenVpn << "openvpn" << false;
    QTest::newRow("OpenConnect, tunnel device removed") << kOcserv << "ocserv" << true;
    QTest::newRow("OpenVPN, tunnel device removed") << kOpenVpn << "openvpn" << true;
}

// With the kill switch on: the block is lifted for the tunnel and back as
// soon as Disconnected is shown, so nothing leaks after the loss.
void TestFaults::connectionLost()
{
    QFETCH(int, serverId);
    QFETCH(QString, server);
    QFETCH(bool, removeDevice);
    QVERIFY(m_window->setKillSwitch(true));
    QVERIFY(FaultLab::KillSwitch::blocking());
    QCOMPARE(attempt(serverId), int(Connection::Connected));
    QCOMPARE(boxes(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!tunnelDevice().isEmpty(), 10000);
    QVERIFY(!FaultLab::KillSwitch::blocking());

    QElapsedTimer clock;
    clock.start();
    if (removeDevice) {
        QString error;
        QVERIFY2(Lab::run(QStringLiteral("ip"), {"link", "delete", tunnelDevice()}, &error), qPrintable(error));
    } else {
        QVERIFY2(Lab::killServer(server, QStringLiteral("KILL")), qPrintable(Lab::lastError()));
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_window->pageStatus(), int(Connection::Disconnected), kLossMs);
    qInfo("%s: Disconnected %lld ms after the fault", QTest::currentDataTag(), clock.elapsed());
    QCOMPARE(m_window->protection(), QStringLiteral("Not Protected"));
    QTRY_COMPARE(boxes(), 1);
    QVERIFY2(messages().startsWith(QStringLiteral("The connection to the VPN server was lost")), qPrintable(messages()));
    if (removeDevice)
        QVERIFY2(messages().contains(QStringLiteral("tunnel device")), qPrintable(messages()));
    QTRY_VERIFY_WITH_TIMEOUT(openVpnProcessesHere().isEmpty(), 10000);
    QVERIFY(FaultLab::KillSwitch::blocking());
    QCOMPARE(m_leaks.probe(), 0);

    // The next connect works.
    if (!removeDevice)
        QVERIFY2(Lab::startServer(server), qPrintable(Lab::lastError()));
    QTRY_VERIFY_WITH_TIMEOUT(!Connection::instance()->isSessionRunning(), 10000);
    QCOMPARE(attempt(serverId), int(Connection::Connected));
    QCOMPARE(boxes(), 0);
    QVERIFY(m_window->disconnectAndSettle());
    QVERIFY(m_window->setKillSwitch(false));
}

// A gateway whose key changed since it was pinned: refused before the
// password is sent; the server sees no authentication at all.
void TestFaults::changedServerKey()
{
    m_extra = std::make_unique<ExtraOcserv>(
        ExtraOcserv::Options{kExtraOcservPort, QStringLiteral("vvkey"), QStringLiteral("10.213.6.0"), {}});
    QVERIFY2(m_extra->start(), qPrintable(m_extra->error()));
    QCOMPARE(attempt(kExtraOcservId), int(Connection::Connected));
    QVERIFY(m_window->disconnectAndSettle());
    QCOMPARE(m_extra->authentications(), 1);

    QVERIFY2(m_extra->start(), qPrintable(m_extra->error()));   // a new key
    QCOMPARE(attempt(kExtraOcservId), int(Connection::Disconnected));
    QTRY_COMPARE(boxes(), 1);
    QVERIFY2(messages().startsWith(QStringLiteral("The server identified itself with another key")),
             qPrintable(messages()));
    QCOMPARE(m_extra->authentications(), 0);
    // The other servers are still fine.
    QCOMPARE(attempt(kOcserv), int(Connection::Connected));
}

void TestFaults::openVpnMissing()
{
    qputenv("VARNELVPN_OPENVPN", QByteArrayLiteral("/nonexistent/openvpn"));
    QCOMPARE(attempt(kOpenVpn), int(Connection::Disconnected));
    QTRY_COMPARE(boxes(), 1);
    QVERIFY2(messages().startsWith(QStringLiteral("The OpenVPN program could not be started (/nonexistent/openvpn")),
             qPrintable(messages()));
    qputenv("VARNELVPN_OPENVPN", QFile::encodeName(file("openvpn")));
    QCOMPARE(attempt(kOpenVpn), int(Connection::Connected));
}

// A machine without a usable /dev/net/tun (the module not loaded, a
// container without the device): /dev/null takes its place, in this test's
// own mount namespace only.
void TestFaults::noTunnelDevice()
{
    QString error;
    if (!Lab::run(QStringLiteral("mount"), {"--bind", "/dev/null", "/dev/net/tun"}, &error))
        QSKIP(qPrintable(QStringLiteral("cannot hide /dev/net/tun here: ") + error));
    m_tunHidden = true;
    for (int serverId : {kOpenVpn, kOcserv}) {
        m_window->press(serverId);
        QTRY_COMPARE_WITH_TIMEOUT(boxes(), 1, 30000);
        QVERIFY2(messages().startsWith(QStringLiteral("The tunnel device could not be created.")),
                 qPrintable(messages()));
        QVERIFY(m_window->disconnectAndSettle());
    }
    QVERIFY2(Lab::run(QStringLiteral("umount"), {"/dev/net/tun"}, &error), qPrintable(error));
    m_tunHidden = false;
    QCOMPARE(attempt(kOpenVpn), int(Connection::Connected));
}

// The kill switch in each state, counted on the server's side: nothing
// leaves outside a tunnel, apart from the time the block is lifted for a
// connect (measured), and what a program bound to the physical device
// sends while a tunnel is up (measured: the block is lifted for the
// tunnel's life, by design).
void TestFaults::killSwitchLeaks()
{
    QVERIFY(m_window->setKillSwitch(true));
    QVERIFY(FaultLab::KillSwitch::blocking());
    QCOMPARE(m_leaks.probe(), 0);   // disconnected

    // The window of a connect: pings every 5 ms from before the press until
    // the tunnel is up tell how long traffic got out.
    for (int serverId : {kOpenVpn, kOcserv}) {
        const qint64 before = m_leaks.count(LeakCounter::Icmp);
        QElapsedTimer clock;
        Prober prober(flood(labValue("SERVER_ADDR")));
        QTest::qWait(200);
        QCOMPARE(m_leaks.count(LeakCounter::Icmp), before);   // blocked so far
        clock.start();
        QCOMPARE(attempt(serverId), int(Connection::Connected));
        const qint64 untilConnected = clock.elapsed();
        prober.stop();
        const qint64 leaked = m_leaks.count(LeakCounter::Icmp) - before;
        qInfo("connect window, server %d: %lld pings got out (about %lld ms), Connected %lld ms after the press",
              serverId, leaked, leaked * kProbeIntervalMs, untilConnected);
        QVERIFY(leaked * kProbeIntervalMs <= untilConnected + 200);

        // Connected: into the tunnel nothing is counted; bound to the
        // physical device a program still gets out.
        QTRY_VERIFY_WITH_TIMEOUT(!tunnelDevice().isEmpty(), 10000);
        const qint64 target = m_leaks.count(LeakCounter::Target);
        QProcess::execute(QStringLiteral("ping"), {"-q", "-c", "20", "-i", "0.01", "-W", "1", labValue("TARGET")});
        const qint64 throughTunnel = m_leaks.count(LeakCounter::Target) - target;
        QProcess::execute(QStringLiteral("ping"), {"-q", "-c", "20", "-i", "0.01", "-W", "1", "-I",
                                                   labValue("VETH_CLIENT"), labValue("TARGET")});
        const qint64 bound = m_leaks.count(LeakCounter::Target) - target - throughTunnel;
        qInfo("connected, server %d: 20 pings to the target, %lld outside the tunnel; 20 more bound to %s, "
              "%lld outside",
              serverId, throughTunnel, qPrintable(labValue("VETH_CLIENT")), bound);
        QCOMPARE(throughTunnel, 0);
        QVERIFY(m_window->disconnectAndSettle());
        QVERIFY(FaultLab::KillSwitch::blocking());
        QCOMPARE(m_leaks.probe(), 0);   // disconnected again
    }

    // While connecting the block is lifted (it is the connect's window);
    // after a failed attempt it is back.
    QVERIFY2(Lab::killServer(QStringLiteral("ocserv"), QStringLiteral("KILL")), qPrintable(Lab::lastError()));
    QCOMPARE(attempt(kOcserv), int(Connection::Disconnected));
    QTRY_COMPARE(boxes(), 1);
    QVERIFY2(messages().startsWith(QStringLiteral("Could not connect to the VPN server")), qPrintable(messages()));
    QVERIFY(FaultLab::KillSwitch::blocking());
    QCOMPARE(m_leaks.probe(), 0);   // after a failed attempt
    QVERIFY2(Lab::startServer(QStringLiteral("ocserv")), qPrintable(Lab::lastError()));

    QVERIFY2(Lab::killServer(QStringLiteral("openvpn"), QStringLiteral("KILL")), qPrintable(Lab::lastError()));
    m_window->press(kOpenVpn);
    QTRY_COMPARE(m_window->pageStatus(), int(Connection::Connecting));
    qInfo("connecting (server gone): %lld packets of 4 probes got out", m_leaks.probe());
    QVERIFY(m_window->disconnectAndSettle());   // cancelled
    QVERIFY(FaultLab::KillSwitch::blocking());
    QCOMPARE(m_leaks.probe(), 0);
    QVERIFY2(Lab::startServer(QStringLiteral("openvpn")), qPrintable(Lab::lastError()));

    // Refused before anything started: the same.
    QCOMPARE(attempt(kHostileIds), int(Connection::Disconnected));
    QVERIFY(FaultLab::KillSwitch::blocking());
    QCOMPARE(m_leaks.probe(), 0);
    QVERIFY(m_window->setKillSwitch(false));
    QVERIFY(!FaultLab::KillSwitch::blocking());
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    TestFaults test;
    return FaultLab::exec(&test, argc, argv);
}

#include "tst_faults_e2e.moc"
