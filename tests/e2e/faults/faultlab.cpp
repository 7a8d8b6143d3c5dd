#include "faultlab.h"

#include "labfixture.h"

#include "app/rootwindow.h"
#include "common/config.h"
#include "pages/connect/connectpage.h"
#include "vpn/openconnectconnection.h"
#include "vpn/openvpnrunner.h"
#include "widgets/settingkillswitch/settingkillswitch.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QJsonDocument>
#include <QLabel>
#include <QNetworkInterface>
#include <QPushButton>
#include <QStackedWidget>
#include <QTcpSocket>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Varnel {

namespace FaultLab {

namespace {

const QStringList kKinds{QStringLiteral("tcp"),  QStringLiteral("udp"),   QStringLiteral("icmp"),
                         QStringLiteral("dns"),  QStringLiteral("ipv6"),  QStringLiteral("bound"),
                         QStringLiteral("other")};

// A DNS query for probe.varnel.test, type A.
const QByteArray kDnsQuery = QByteArray::fromHex("abcd010000010000000000000570726f6265067661726e656c04746573740000010001");
// ICMP and ICMPv6 echo requests; on a ping socket the kernel fills in the rest.
const QByteArray kEcho4 = QByteArray::fromHex("0800000000000001");
const QByteArray kEcho6 = QByteArray::fromHex("8000000000000001");

// Sends one probe: a TCP connect sends its SYN before connect() returns;
// whatever a filter does to it is seen on the server side. The socket stays
// open for a while, so that an answer finds it and is not refused with an
// ICMP error of our own.
int probe(const QString &host, int type, int protocol, quint16 port, const QByteArray &payload, bool bound)
{
    const QHostAddress address(host);
    sockaddr_storage storage {};
    socklen_t length = 0;
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR raw = address.toIPv6Address();
        memcpy(&in6->sin6_addr, &raw, sizeof raw);
        length = sizeof *in6;
    } else {
        auto *in4 = reinterpret_cast<sockaddr_in *>(&storage);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(port);
        in4->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof *in4;
    }
    const int fd = ::socket(storage.ss_family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    if (fd < 0)
        return fd;
    if (bound) {
        // Allowed without privilege since Linux 5.7, as ping -I uses it.
        const QByteArray device = labValue("VETH_CLIENT").toLatin1();
        ::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, device.constData(), socklen_t(device.size()));
    }
    const auto *target = reinterpret_cast<const sockaddr *>(&storage);
    if (type == SOCK_STREAM)
        static_cast<void>(::connect(fd, target, length));
    else
        static_cast<void>(::sendto(fd, payload.constData(), size_t(payload.size()), 0, target, length));
    return fd;
}

// The first resolver the resolver file names, as the C library would ask it.
QString resolver()
{
    QFile file(QStringLiteral("/etc/resolv.conf"));
    file.open(QIODevice::ReadOnly);
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() >= 2 && words.first() == "nameserver")
            return QString::fromLatin1(words.at(1));
    }
    return QString();
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

Counts leaks()
{
    Counts counts;
    if (!Lab::control({QStringLiteral("leaks")}))
        return counts;
    for (const QString &line : Lab::output().split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        counts.insert(line.section(QLatin1Char(' '), 0, 0), line.section(QLatin1Char(' '), 1).toLongLong());
    return counts;
}

Counts operator-(const Counts &after, const Counts &before)
{
    Counts difference;
    for (const QString &kind : kKinds)
        difference[kind] = after.value(kind, -1) - before.value(kind);
    return difference;
}

Counts operator+(const Counts &one, const Counts &other)
{
    Counts sum;
    for (const QString &kind : kKinds)
        sum[kind] = one.value(kind) + other.value(kind);
    return sum;
}

qint64 total(const Counts &counts)
{
    qint64 sum = 0;
    for (const QString &kind : kKinds)
        sum += counts.value(kind);
    return sum;
}

QString format(const Counts &counts)
{
    QStringList cells;
    for (const QString &kind : kKinds)
        cells << QStringLiteral("%1").arg(counts.value(kind), 6);
    return cells.join(QString());
}

Prober::Prober()
{
    QObject::connect(&m_timer, &QTimer::timeout, [this] { round(); });
}

Prober::~Prober()
{
    closeSockets();
}

void Prober::closeSockets(int keep)
{
    while (m_rounds.size() > keep) {
        for (int fd : m_rounds.takeFirst())
            ::close(fd);
    }
}

void Prober::round()
{
    // The round before the last one has its answers by now.
    closeSockets(1);
    QList<int> sockets;
    const QString host = labValue("NET_HOST");
    const QString host6 = labValue("NET_HOST6");
    const QString bound = labValue("NET_BOUND_HOST");
    const auto tcp = quint16(labValue("PROBE_TCP_PORT").toUInt());
    const auto udp = quint16(labValue("PROBE_UDP_PORT").toUInt());
    const QByteArray text("leak probe");
    for (bool toBound : {false, true}) {
        const QString to = toBound ? bound : host;
        sockets << probe(to, SOCK_STREAM, 0, tcp, {}, toBound) << probe(to, SOCK_DGRAM, 0, udp, text, toBound)
                  << probe(to, SOCK_DGRAM, IPPROTO_ICMP, 0, kEcho4, toBound);
    }
    sockets << probe(resolver(), SOCK_DGRAM, 0, 53, kDnsQuery, false)
              << probe(labValue("NET_RESOLVER"), SOCK_DGRAM, 0, 53, kDnsQuery, true)
              << probe(host6, SOCK_STREAM, 0, tcp, {}, false) << probe(host6, SOCK_DGRAM, 0, udp, text, false)
              << probe(host6, SOCK_DGRAM, IPPROTO_ICMPV6, 0, kEcho6, false);
    sockets.removeAll(-1);
    m_rounds << sockets;
}

void Prober::start(int intervalMs)
{
    round();
    m_timer.start(intervalMs);
}

Counts Prober::during(const std::function<void()> &doing, int intervalMs)
{
    const Counts before = leaks();
    start(intervalMs);
    doing();
    stop();
    round();
    // One that got through is counted within microseconds over the veth link.
    QTest::qWait(100);
    closeSockets();
    return leaks() - before;
}

QString clientState()
{
    if (Lab::control({QStringLiteral("client-state")}))
        return Lab::output();
    qWarning("%s", qPrintable(Lab::lastError()));
    return QString();
}

QString routes()
{
    QString text;
    for (const char *family : {"-4", "-6"}) {
        QProcess ip;
        ip.start(QStringLiteral("ip"), {QLatin1String(family), QStringLiteral("route"), QStringLiteral("show"),
                                        QStringLiteral("table"), QStringLiteral("all")});
        ip.waitForFinished(5000);
        text += QString::fromUtf8(ip.readAllStandardOutput());
    }
    return text;
}

QString difference(const QString &before, const QString &after)
{
    const QStringList old = before.split(QLatin1Char('\n'));
    const QStringList now = after.split(QLatin1Char('\n'));
    QStringList lines;
    for (const QString &line : now) {
        if (!old.contains(line))
            lines << QStringLiteral("+ ") + line;
    }
    for (const QString &line : old) {
        if (!now.contains(line))
            lines << QStringLiteral("- ") + line;
    }
    return lines.join(QLatin1Char('\n'));
}

QString tunnelDevice()
{
    for (const QNetworkInterface &device : QNetworkInterface::allInterfaces()) {
        if (device.name().startsWith(QLatin1String("vvpn")))
            return device.name();
    }
    return QString();
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
    // The lab's server runs as root in another namespace: its links are not ours to read.
    const QByteArray here = linkText(QStringLiteral("/proc/self/ns/net"));
    QList<qint64> found;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString proc = QStringLiteral("/proc/") + entry;
        if (linkText(proc + QStringLiteral("/exe")).endsWith("/openvpn")
            && linkText(proc + QStringLiteral("/ns/net")) == here)
            found << entry.toLongLong();
    }
    return found;
}

bool targetReachable(int timeoutMs)
{
    QTcpSocket socket;
    socket.connectToHost(labValue("TARGET"), quint16(labValue("IPERF_PORT").toUInt()));
    const bool reached = socket.waitForConnected(timeoutMs);
    // Ended with a reset, now: no goodbye of it follows later, perhaps after the tunnel.
    const linger reset {1, 0};
    ::setsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    return reached;
}

QString resolve(const QString &name)
{
    const QHostInfo info = QHostInfo::fromName(name);
    return info.addresses().isEmpty() ? QString() : info.addresses().constFirst().toString();
}

Client::Client() = default;

Client::~Client()
{
    m_window.reset();
    m_sandbox.leave();
}

bool Client::startBackend(const QJsonArray &extraServers, QString *error)
{
    QFile base(QStringLiteral(VARNEL_BACKEND_TEST_DATA));
    base.open(QIODevice::ReadOnly);
    QJsonObject data = QJsonDocument::fromJson(base.readAll()).object();
    data[QStringLiteral("accounts")] =
        QJsonArray{QJsonObject{{"username", labValue("UTF8_USER")}, {"password", labValue("UTF8_PASSWORD")},
                               {"email", "lab@varnel.test"}, {"plan", "premium"}, {"valid_days", 30}}};
    const QString unreachable = labValue("NET_UNREACHABLE");
    QJsonArray servers{server(kOcserv, 2, labValue("OCSERV_GATEWAY")), server(kOpenVpn, 1, labValue("OPENVPN_ADDRESS")),
                       server(kUnreachableOcserv, 2, unreachable),
                       server(kUnreachableOpenVpn, 1, unreachable + QLatin1Char(':') + labValue("OPENVPN_PORT"))};
    for (const QJsonValue &extra : extraServers)
        servers.append(extra);
    data[QStringLiteral("servers")] = servers;
    QFile out(file(QStringLiteral("data.json")));
    if (!out.open(QIODevice::WriteOnly) || out.write(QJsonDocument(data).toJson()) <= 0) {
        *error = out.errorString();
        return false;
    }
    out.close();
    if (m_backend.start({QStringLiteral("--data"), out.fileName()}))
        return true;
    *error = m_backend.errorText();
    return false;
}

bool Client::logIn(QString *error)
{
    if (!m_window) {
        m_sandbox.enter(m_backend.baseUrl(), m_backend.caFile());
        ClientSandbox::storeEndpoints(ClientSandbox::endpointsAt(m_backend.baseUrl()));
        OpenConnectConnection::initTls();
    }
    // The login page drops blanks from what is typed: the lab's other account cannot log in there.
    const auto config = Config::instance();
    config->setServerHash(labValue("UTF8_USER"));
    config->setConnectionHash(labValue("UTF8_PASSWORD"));
    config->setAutoLogin(true);
    config->save();
    m_boxes.clear();
    m_window = std::make_unique<RootWindow>(QStringLiteral("not"));
    m_window->resize(1080, 740);
    m_window->show();
    if (!QTest::qWaitFor([this] { return loggedIn(); }, 20000) || boxes() != 0) {
        *error = QStringLiteral("not logged in: ") + messages();
        return false;
    }
    return true;
}

bool Client::loggedIn() const
{
    return m_window && m_window->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"))->currentIndex() == 3;
}

ConnectPage *Client::connectPage() const
{
    return m_window->findChild<ConnectPage *>(QStringLiteral("connectPage"));
}

QString Client::protection() const
{
    return connectPage()->findChild<QLabel *>(QStringLiteral("lblProtectedText"))->text();
}

int Client::pageStatus() const
{
    return connectPage()->pageStatus();
}

void Client::press(int serverId)
{
    m_boxes.clear();
    Config::instance()->setActiveServer(serverId);
    Config::instance()->save();
    QTest::mousePress(connectPage()->findChild<QPushButton *>(QStringLiteral("btnConnect")), Qt::LeftButton);
}

int Client::attempt(int serverId, int timeoutMs)
{
    using C = OpenConnectConnection;
    press(serverId);
    // The status at the end tells the outcome, whichever wait ran out; an
    // attempt refused at once never shows Connecting, only its message.
    static_cast<void>(QTest::qWaitFor([&] { return pageStatus() != C::Disconnected || boxes() > 0; }, 5000));
    static_cast<void>(QTest::qWaitFor([&] { return pageStatus() != C::Connecting; }, timeoutMs));
    if (pageStatus() == C::Connected) {
        // Connected once the server's settings are applied; the tunnel then carries at once.
        static_cast<void>(QTest::qWaitFor([] { return targetReachable(); }, 10000));
    }
    // The message box of a failure follows the status by one turn.
    QTest::qWait(50);
    return pageStatus();
}

bool Client::disconnectAndSettle()
{
    using C = OpenConnectConnection;
    if (pageStatus() != C::Disconnected)
        QTest::mousePress(connectPage()->findChild<QPushButton *>(QStringLiteral("btnConnect")), Qt::LeftButton);
    return QTest::qWaitFor([&] { return pageStatus() == C::Disconnected; }, 15000)
        && QTest::qWaitFor([] { return !C::instance()->isSessionRunning(); }, 10000)
        && QTest::qWaitFor([] { return C::instance()->findChildren<OpenVpnRunner *>().isEmpty(); }, 10000)
        && QTest::qWaitFor([] { return tunnelDevice().isEmpty(); }, 10000);
}

bool Client::setKillSwitch(bool on)
{
    if (Config::instance()->killSwitch() != on)
        QTest::mousePress(m_window->findChild<SettingKillSwitch *>(), Qt::LeftButton);
    return Config::instance()->killSwitch() == on;
}

bool Client::logOut()
{
    m_boxes.setAnswer(QMessageBox::Yes);
    QTest::mousePress(m_window->findChild<QWidget *>(QStringLiteral("logoutButton")), Qt::LeftButton);
    m_boxes.setAnswer(QMessageBox::NoButton);
    return QTest::qWaitFor([this] { return !loggedIn(); }, 5000);
}

void Client::startExecutable(QProcess &process, int serverId, bool autoConnect)
{
    const auto config = Config::instance();
    config->setAutoConnect(autoConnect);
    config->setActiveServer(serverId);
    config->setConnectionState(false);
    config->save();
    const QString dir = file(QStringLiteral("executable"));
    m_sandbox.startClient(process, QStringLiteral(VARNELVPN_EXECUTABLE), m_sandbox.clientEnvironment(dir), dir);
    process.waitForStarted(10000);
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
