#include "labfixture.h"

#include "app/rootwindow.h"
#include "common/config.h"
#include "pages/connect/connectpage.h"
#include "vpn/openconnectconnection.h"
#include "vpn/openvpnrunner.h"
#include "widgets/settingkillswitch/settingkillswitch.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QJsonDocument>
#include <QNetworkInterface>
#include <QPushButton>
#include <QStackedWidget>
#include <QTcpSocket>
#include <QTest>
#include <QThread>

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Varnel {

namespace {

const QStringList kKinds{QStringLiteral("tcp"),  QStringLiteral("udp"),   QStringLiteral("icmp"),
                         QStringLiteral("dns"),  QStringLiteral("ipv6"),  QStringLiteral("bound"),
                         QStringLiteral("other")};

// A DNS query for probe.varnel.test, type A.
const QByteArray kDnsQuery =
    QByteArray::fromHex("abcd010000010000000000000570726f6265067661726e656c04746573740000010001");
// ICMP and ICMPv6 echo requests; on a ping socket the kernel fills in the rest.
const QByteArray kEcho4 = QByteArray::fromHex("0800000000000001");
const QByteArray kEcho6 = QByteArray::fromHex("8000000000000001");

// Sends one probe: a TCP connect sends its SYN before connect() returns;
// whatever a filter does to it is seen on the server side. The socket stays
// open for a while, so that an answer finds it and is not refused with an
// ICMP error of our own.
int probe(const QString &host, int type, int protocol, quint16 port, const QByteArray &payload, bool bound)
{
    addrinfo hints {};
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo *target = nullptr;
    if (::getaddrinfo(host.toLatin1().constData(), QByteArray::number(port).constData(), &hints, &target) != 0)
        return -1;
    const int fd = ::socket(target->ai_family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    // Binding to a device is allowed without privilege since Linux 5.7, as ping -I uses it.
    const QByteArray device = Lab::value("VETH_CLIENT").toLatin1();
    if (bound)
        ::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, device.constData(), socklen_t(device.size()));
    if (type == SOCK_STREAM)
        static_cast<void>(::connect(fd, target->ai_addr, target->ai_addrlen));
    else
        static_cast<void>(::sendto(fd, payload.constData(), size_t(payload.size()), 0, target->ai_addr,
                                   target->ai_addrlen));
    ::freeaddrinfo(target);
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

bool Lab::control(const QStringList &arguments)
{
    // The agent: tools/lab/lab.sh, lab_agent.
    lastOutput.clear();
    static int counter = 0;
    const QString id = QString::number(QCoreApplication::applicationPid() * 1000 + ++counter);
    const QString dir = value("DIR") + QStringLiteral("/agent/");
    QFile requests(dir + QStringLiteral("requests"));
    if (!requests.open(QIODevice::WriteOnly)) {
        lastError = QStringLiteral("no lab agent: %1").arg(requests.errorString());
        return false;
    }
    requests.write((id + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')) + QLatin1Char('\n')).toLocal8Bit());
    requests.close();
    QFile reply(dir + id);
    const QDeadlineTimer deadline(60000);
    while (!reply.exists() && !deadline.hasExpired())
        QThread::msleep(20);
    if (!reply.open(QIODevice::ReadOnly)) {
        lastError = QStringLiteral("the lab agent did not answer %1").arg(arguments.join(QLatin1Char(' ')));
        return false;
    }
    const QString status = QString::fromLocal8Bit(reply.readLine()).trimmed();
    lastOutput = QString::fromLocal8Bit(reply.readAll());
    lastError = QStringLiteral("lab.sh %1: %2").arg(arguments.join(QLatin1Char(' ')), lastOutput.trimmed());
    return status == QLatin1String("0");
}

bool Lab::targetReachable(int timeoutMs)
{
    QTcpSocket socket;
    socket.connectToHost(value("TARGET"), quint16(value("IPERF_PORT").toUInt()));
    const bool reached = socket.waitForConnected(timeoutMs);
    // Ended with a reset, now: no goodbye of it follows later, perhaps after the tunnel.
    const linger reset {1, 0};
    ::setsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    return reached;
}

bool Lab::targetReachableSoon()
{
    return QTest::qWaitFor([] { return targetReachable(); }, 10000);
}

QString Lab::tunnelDevice()
{
    for (const QNetworkInterface &device : QNetworkInterface::allInterfaces()) {
        if (device.name().startsWith(QLatin1String("vvpn")))
            return device.name();
    }
    return QString();
}

QString Lab::openVpnProcesses()
{
    // The lab's server runs as root: only the lab user's count.
    QProcess pgrep;
    pgrep.start(QStringLiteral("pgrep"), {QStringLiteral("-u"), QString::number(::getuid()), QStringLiteral("-x"),
                                          QStringLiteral("openvpn")});
    pgrep.waitForFinished(5000);
    return QString::fromLatin1(pgrep.readAllStandardOutput());
}

QString Lab::resolve(const QString &name)
{
    const QHostInfo info = QHostInfo::fromName(name);
    return info.addresses().isEmpty() ? QString() : info.addresses().constFirst().toString();
}

QString Lab::clientState()
{
    // On a failure the output says why, and no comparison passes.
    control({QStringLiteral("client-state")});
    return lastOutput;
}

QString Lab::difference(const QString &before, const QString &after)
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

QStringList Lab::entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

qint64 Lab::residentKiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    statm.open(QIODevice::ReadOnly);
    return statm.readAll().split(' ').value(1).toLongLong() * (::sysconf(_SC_PAGESIZE) / 1024);
}

bool ExtraOcserv::start()
{
    m_logStart = QFileInfo(logPath()).size();
    // Tun device names and address pool of their own, the same for each: one runs at a time.
    return Lab::control({QStringLiteral("extra-ocserv"), QStringLiteral("start"), QString::number(m_port),
                         QStringLiteral("vvextra"), QStringLiteral("10.213.6.0"), m_groups.join(QLatin1Char(','))});
}

int ExtraOcserv::authentications() const
{
    QFile log(logPath());
    if (!log.open(QIODevice::ReadOnly) || !log.seek(m_logStart))
        return -1;
    return log.readAll().count("authentication to authenticate user");
}

Counts leaks()
{
    // A failed command leaves none of the kinds: every difference then shows it.
    Counts counts;
    Lab::control({QStringLiteral("leaks")});
    for (const QString &line : Lab::lastOutput.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
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
        cells << QStringLiteral("%1 %2").arg(kind).arg(counts.value(kind));
    return cells.join(QLatin1String(", "));
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
    const QString host6 = Lab::value("NET_HOST6");
    const auto tcp = quint16(Lab::value("PROBE_TCP_PORT").toUInt());
    const auto udp = quint16(Lab::value("PROBE_UDP_PORT").toUInt());
    const QByteArray text("leak probe");
    for (bool bound : {false, true}) {
        const QString to = Lab::value(bound ? "NET_BOUND_HOST" : "NET_HOST");
        sockets << probe(to, SOCK_STREAM, 0, tcp, {}, bound) << probe(to, SOCK_DGRAM, 0, udp, text, bound)
                << probe(to, SOCK_DGRAM, IPPROTO_ICMP, 0, kEcho4, bound);
    }
    sockets << probe(resolver(), SOCK_DGRAM, 0, 53, kDnsQuery, false)
            << probe(Lab::value("NET_RESOLVER"), SOCK_DGRAM, 0, 53, kDnsQuery, true)
            << probe(host6, SOCK_STREAM, 0, tcp, {}, false) << probe(host6, SOCK_DGRAM, 0, udp, text, false)
            << probe(host6, SOCK_DGRAM, IPPROTO_ICMPV6, 0, kEcho6, false);
    sockets.removeAll(-1);
    m_rounds << sockets;
}

Counts Prober::during(const std::function<void()> &doing, int intervalMs)
{
    const Counts before = leaks();
    round();
    m_timer.start(intervalMs);
    doing();
    m_timer.stop();
    round();
    // One that got through is counted within microseconds over the veth link.
    QTest::qWait(100);
    closeSockets();
    return leaks() - before;
}

QJsonObject server(int id, int type, const QString &address, const QByteArray &config)
{
    const QString category = id == kOcserv ? QStringLiteral("Lab AnyConnect")
        : id == kOpenVpn                   ? QStringLiteral("Lab OpenVPN")
                                           : QStringLiteral("Lab");
    QJsonObject entry{{"ip_id", id}, {"bundleName", category}, {"ipName", QStringLiteral("lab %1").arg(id)},
                      {"countryName", category}, {"countryCode", "276"}, {"ip", address}, {"ssl_ip", address},
                      {"type", type}, {"typeTxt", type == 1 ? "openvpn" : "anyconnect"}, {"connection_type", 1}};
    if (type == 1)
        entry[QStringLiteral("config")] = config.isEmpty() ? Lab::value("OPENVPN_TEMPLATE_B64")
                                                           : QString::fromLatin1(config.toBase64());
    return entry;
}

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
    data[QStringLiteral("accounts")] = QJsonArray{
        QJsonObject{{"username", Lab::value("UTF8_USER")}, {"password", Lab::value("UTF8_PASSWORD")},
                    {"email", "lab@varnel.test"}, {"plan", "premium"}, {"valid_days", 30}}};
    const QString unreachable = Lab::value("NET_UNREACHABLE");
    QJsonArray servers{server(kOcserv, 2, Lab::value("OCSERV_GATEWAY")),
                       server(kOpenVpn, 1, Lab::value("OPENVPN_ADDRESS")),
                       server(kUnreachableOcserv, 2, unreachable),
                       server(kUnreachableOpenVpn, 1, unreachable + QLatin1Char(':') + Lab::value("OPENVPN_PORT"))};
    for (const QJsonValue &extra : extraServers)
        servers.append(extra);
    data[QStringLiteral("servers")] = servers;
    QFile out(file(QStringLiteral("data.json")));
    if (out.open(QIODevice::WriteOnly) && out.write(QJsonDocument(data).toJson()) > 0 && out.flush()
        && m_backend.start({QStringLiteral("--data"), out.fileName()}))
        return true;
    *error = out.errorString() + m_backend.errorText();
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
    config->setServerHash(Lab::value("UTF8_USER"));
    config->setConnectionHash(Lab::value("UTF8_PASSWORD"));
    config->setAutoLogin(true);
    config->save();
    m_boxes.clear();
    m_window = std::make_unique<RootWindow>(QStringLiteral("not"));
    m_window->resize(1080, 740);
    m_window->show();
    if (!QTest::qWaitFor([this] { return loggedIn(); }, 20000) || boxCount() != 0) {
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
    static_cast<void>(QTest::qWaitFor([&] { return pageStatus() != C::Disconnected || boxCount() > 0; }, 5000));
    static_cast<void>(QTest::qWaitFor([&] { return pageStatus() != C::Connecting; }, timeoutMs));
    if (pageStatus() == C::Connected) {
        // Connected once the server's settings are applied; the tunnel then carries at once.
        static_cast<void>(Lab::targetReachableSoon());
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
        && QTest::qWaitFor([] { return Lab::tunnelDevice().isEmpty(); }, 10000);
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

QVariant Client::stored(const char *key) const
{
    return m_sandbox.stored(QLatin1String(key));
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

} // namespace Varnel
