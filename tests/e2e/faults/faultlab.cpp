#include "faultlab.h"

#include "labfixture.h"

#include "app/rootwindow.h"
#include "common/config.h"
#include "pages/connect/connectpage.h"
#include "vpn/openconnectconnection.h"
#include "vpn/openvpnrunner.h"
#include "widgets/settingkillswitch/settingkillswitch.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QLabel>
#include <QNetworkInterface>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <unistd.h>

namespace Varnel {

namespace FaultLab {

namespace {

// The server-side table; the lab removes the namespace with it.
const QString kTable = QStringLiteral("vvfault_leaks");
// Ports nothing in the lab serves.
constexpr quint16 kTcpPort = 22;
constexpr quint16 kUdpPort = 9;
constexpr quint16 kDnsPort = 53;
// No account on the machine uses this group: the block lets no program through.
const char kNoTunnelGroup[] = "64124";

bool serverNft(const QStringList &arguments, QString *output)
{
    QProcess nft;
    nft.start(QStringLiteral("ip"), QStringList{QStringLiteral("netns"), QStringLiteral("exec"),
                                                labValue("NS_SERVER"), QStringLiteral("nft")}
                                         + arguments);
    const bool done = nft.waitForFinished(10000) && nft.exitCode() == 0;
    *output = QString::fromUtf8(nft.readAllStandardOutput() + nft.readAllStandardError());
    return done;
}

} // namespace

QString labValue(const char *key)
{
    return QString::fromUtf8(qgetenv(QByteArray("VARNEL_LAB_") + key));
}

QJsonObject server(int id, int type, const QString &address, const QByteArray &config)
{
    QJsonObject entry{{"ip_id", id}, {"bundleName", "Lab"}, {"ipName", QStringLiteral("lab %1").arg(id)},
                      {"countryName", "Lab"}, {"countryCode", "276"}, {"ip", address}, {"ssl_ip", address},
                      {"type", type}, {"typeTxt", type == 1 ? "openvpn" : "anyconnect"}, {"connection_type", 1}};
    if (type == 1)
        entry[QStringLiteral("config")] = config.isEmpty() ? labValue("OPENVPN_TEMPLATE_B64")
                                                           : QString::fromLatin1(config.toBase64());
    return entry;
}

QString user()
{
    return labValue("UTF8_USER");
}

QString password()
{
    return labValue("UTF8_PASSWORD");
}

bool startBackend(RefBackendProcess &backend, const QJsonArray &extraServers, const QString &dataFile)
{
    QFile base(QStringLiteral(VARNEL_BACKEND_TEST_DATA));
    if (!base.open(QIODevice::ReadOnly))
        return false;
    QJsonObject data = QJsonDocument::fromJson(base.readAll()).object();
    data[QStringLiteral("accounts")] = QJsonArray{QJsonObject{{"username", user()}, {"password", password()},
                                                              {"email", "lab@varnel.test"}, {"plan", "premium"},
                                                              {"valid_days", 30}}};
    QJsonArray servers{server(kOcserv, 2, labValue("OCSERV_GATEWAY")),
                       server(kOpenVpn, 1, labValue("OPENVPN_ADDRESS"))};
    for (const QJsonValue &extra : extraServers)
        servers.append(extra);
    data[QStringLiteral("servers")] = servers;
    QFile out(dataFile);
    if (!out.open(QIODevice::WriteOnly) || out.write(QJsonDocument(data).toJson()) <= 0)
        return false;
    out.close();
    return backend.start({QStringLiteral("--data"), dataFile});
}

bool KillSwitch::install(QString *error)
{
    if (!m_dir.isValid()) {
        *error = QStringLiteral("no data directory");
        return false;
    }
    qputenv("VARNELVPN_DATA_DIR", QFile::encodeName(m_dir.path()));
    qputenv("VARNELVPN_TUNNEL_GROUP", kNoTunnelGroup);
    return Lab::run(QStringLiteral(KILLSWITCH_PACKAGE "/install.sh"), {m_dir.path()}, error);
}

bool KillSwitch::blocking()
{
    QProcess nft;
    nft.start(QStringLiteral("nft"), {QStringLiteral("list"), QStringLiteral("tables")});
    nft.waitForFinished(10000);
    return nft.readAllStandardOutput().contains("varnelvpn_killswitch");
}

bool KillSwitch::reset() const
{
    QString error;
    return Lab::run(m_dir.filePath(QStringLiteral("reset_firewall_rules.nft")), {}, &error);
}

bool LeakCounter::install(QString *error)
{
    const QString link = labValue("VETH_SERVER");
    const QString rules = QStringLiteral(
        "table inet %1 {\n"
        "  counter leak_tcp {}\n  counter leak_udp {}\n  counter leak_icmp {}\n  counter leak_dns {}\n"
        "  counter leak_target {}\n"
        "  chain count {\n"
        "    type filter hook prerouting priority raw; policy accept;\n"
        "    iifname \"%2\" tcp dport %3 counter name \"leak_tcp\"\n"
        "    iifname \"%2\" udp dport %4 counter name \"leak_udp\"\n"
        "    iifname \"%2\" icmp type echo-request ip daddr %5 counter name \"leak_icmp\"\n"
        "    iifname \"%2\" meta l4proto { tcp, udp } th dport %6 counter name \"leak_dns\"\n"
        "    iifname \"%2\" ip daddr %7 counter name \"leak_target\"\n"
        "  }\n"
        "}\n")
                              .arg(kTable, link)
                              .arg(kTcpPort)
                              .arg(kUdpPort)
                              .arg(labValue("SERVER_ADDR"))
                              .arg(kDnsPort)
                              .arg(labValue("TARGET"));
    QFile file(QDir::temp().filePath(QStringLiteral("vvfault-%1.nft").arg(QCoreApplication::applicationPid())));
    if (!file.open(QIODevice::WriteOnly) || file.write(rules.toUtf8()) <= 0) {
        *error = file.errorString();
        return false;
    }
    file.close();
    const bool installed = serverNft({QStringLiteral("-f"), file.fileName()}, error);
    file.remove();
    return installed;
}

void LeakCounter::remove()
{
    QString ignored;
    serverNft({QStringLiteral("delete"), QStringLiteral("table"), QStringLiteral("inet"), kTable}, &ignored);
}

qint64 LeakCounter::count(Kind kind) const
{
    static const char *const kNames[] = {"leak_tcp", "leak_udp", "leak_icmp", "leak_dns", "leak_target"};
    QString listed;
    if (!serverNft({QStringLiteral("list"), QStringLiteral("counter"), QStringLiteral("inet"), kTable,
                    QLatin1String(kNames[kind])},
                   &listed))
        return -1;
    const auto match = QRegularExpression(QStringLiteral("packets (\\d+)")).match(listed);
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

qint64 LeakCounter::total() const
{
    qint64 sum = 0;
    for (Kind kind : {Tcp, Udp, Icmp, Dns, Target})
        sum += count(kind);
    return sum;
}

qint64 LeakCounter::probe() const
{
    const QString address = labValue("SERVER_ADDR");
    const qint64 before = total();
    QTcpSocket tcp;
    tcp.connectToHost(address, kTcpPort);
    tcp.waitForConnected(300);
    tcp.abort();
    QUdpSocket udp;
    udp.writeDatagram(QByteArrayLiteral("leak probe"), QHostAddress(address), kUdpPort);
    // A DNS query for varnel.test, type A.
    udp.writeDatagram(QByteArray::fromHex("abcd01000001000000000000067661726e656c04746573740000010001"),
                      QHostAddress(address), kDnsPort);
    QProcess ping;
    ping.setStandardOutputFile(QProcess::nullDevice());
    ping.start(QStringLiteral("ping"), {QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-W"),
                                        QStringLiteral("1"), QStringLiteral("-q"), address});
    ping.waitForFinished(5000);
    // One that got through is counted within microseconds over the veth link.
    QTest::qWait(100);
    return total() - before;
}

QStringList flood(const QString &host, const QString &device)
{
    QStringList arguments{QStringLiteral("-q"), QStringLiteral("-i"),
                          QString::number(kProbeIntervalMs / 1000.0, 'f', 3), host};
    if (!device.isEmpty())
        arguments << QStringLiteral("-I") << device;
    return arguments;
}

Prober::Prober(const QStringList &arguments)
{
    m_ping.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_ping.start(QStringLiteral("ping"), arguments);
    m_ping.waitForStarted(5000);
}

Prober::~Prober()
{
    stop();
}

void Prober::stop()
{
    Lab::endProcess(m_ping, 2000);
}

LoggedInWindow::LoggedInWindow() = default;

LoggedInWindow::~LoggedInWindow()
{
    m_window.reset();
    m_sandbox.leave();
}

bool LoggedInWindow::open(const RefBackendProcess &backend, QString *error)
{
    m_sandbox.enter(backend.baseUrl(), backend.caFile());
    ClientSandbox::storeEndpoints(ClientSandbox::endpointsAt(backend.baseUrl()));
    const auto config = Config::instance();
    config->setServerHash(user());
    config->setConnectionHash(password());
    config->setAutoLogin(true);
    config->save();
    OpenConnectConnection::initTls();
    m_window = std::make_unique<RootWindow>(QStringLiteral("not"));
    m_window->resize(1080, 740);
    m_window->show();
    auto *rootStack = m_window->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    if (!QTest::qWaitFor([&] { return rootStack->currentIndex() == 3; }, 20000) || !m_boxes.texts().isEmpty()) {
        *error = QStringLiteral("not logged in: ") + m_boxes.texts().join(QLatin1Char('|'));
        return false;
    }
    return true;
}

ConnectPage *LoggedInWindow::connectPage() const
{
    return m_window->findChild<ConnectPage *>(QStringLiteral("connectPage"));
}

QString LoggedInWindow::protection() const
{
    return connectPage()->findChild<QLabel *>(QStringLiteral("lblProtectedText"))->text();
}

int LoggedInWindow::pageStatus() const
{
    return connectPage()->pageStatus();
}

void LoggedInWindow::press(int serverId)
{
    m_boxes.clear();
    Config::instance()->setActiveServer(serverId);
    Config::instance()->save();
    QTest::mousePress(connectPage()->findChild<QPushButton *>(QStringLiteral("btnConnect")), Qt::LeftButton);
}

int LoggedInWindow::attempt(int serverId, int timeoutMs)
{
    using C = OpenConnectConnection;
    press(serverId);
    // The status at the end tells the outcome, whichever wait ran out.
    static_cast<void>(QTest::qWaitFor([&] { return pageStatus() != C::Disconnected; }, 5000));
    static_cast<void>(QTest::qWaitFor([&] { return pageStatus() != C::Connecting; }, timeoutMs));
    // The message box of a failure follows the status by one turn.
    QTest::qWait(50);
    return pageStatus();
}

bool LoggedInWindow::disconnectAndSettle()
{
    using C = OpenConnectConnection;
    if (pageStatus() != C::Disconnected)
        QTest::mousePress(connectPage()->findChild<QPushButton *>(QStringLiteral("btnConnect")), Qt::LeftButton);
    return QTest::qWaitFor([&] { return pageStatus() == C::Disconnected; }, 15000)
        && QTest::qWaitFor([] { return !C::instance()->isSessionRunning(); }, 10000)
        && QTest::qWaitFor([] { return openVpnProcessesHere().isEmpty(); }, 10000)
        && QTest::qWaitFor([] { return C::instance()->findChildren<OpenVpnRunner *>().isEmpty(); }, 10000);
}

bool LoggedInWindow::setKillSwitch(bool on)
{
    if (Config::instance()->killSwitch() != on)
        QTest::mousePress(m_window->findChild<SettingKillSwitch *>(), Qt::LeftButton);
    return Config::instance()->killSwitch() == on;
}

namespace {

// The link's own text ("net:[4026531840]"), not a path made from it.
QByteArray linkText(const QString &path)
{
    char buffer[256];
    const ssize_t length = ::readlink(QFile::encodeName(path).constData(), buffer, sizeof buffer);
    return length > 0 ? QByteArray(buffer, int(length)) : QByteArray();
}

} // namespace

QList<qint64> openVpnProcessesHere()
{
    const QByteArray here = linkText(QStringLiteral("/proc/self/ns/net"));
    QList<qint64> found;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isNumber = false;
        const qint64 pid = entry.toLongLong(&isNumber);
        if (!isNumber)
            continue;
        const QString proc = QStringLiteral("/proc/") + entry;
        if (linkText(proc + QStringLiteral("/exe")).endsWith("/openvpn")
            && linkText(proc + QStringLiteral("/ns/net")) == here)
            found << pid;
    }
    return found;
}

QString tunnelDevice()
{
    for (const QNetworkInterface &device : QNetworkInterface::allInterfaces()) {
        if (device.name().startsWith(QLatin1String("tun")))
            return device.name();
    }
    return QString();
}

int exec(QObject *test, int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    arguments.insert(1, QStringLiteral("-maxwarnings"));
    arguments.insert(2, QStringLiteral("0"));
    return QTest::qExec(test, arguments);
}

} // namespace FaultLab

} // namespace Varnel
