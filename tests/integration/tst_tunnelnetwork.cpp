// TunnelNetwork against a real kernel, in network and mount namespaces of its
// own: a veth pair as the physical link (IPv4 and IPv6 default routes), a tun,
// foreign nftables tables, a resolv.conf bind-mounted over /etc/resolv.conf, a
// private bus with a stand-in for systemd-resolved and a recording resolvconf.

#include "service/network/rtnetlink.h"
#include "service/network/tunnelnetwork.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <netdb.h>
#include <net/if.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>

using namespace Varnel::Service;

namespace {

// One connection: what the server pushed, and what must and must not be seen
// in the routes and addresses while it is applied.
struct Row
{
    const char *name;
    const char *resolver; // how the machine manages DNS: file, resolvconf, resolved
    const char *endpoint; // address, port, transport
    QStringList settings; // protocol fields: "address4 A/L", "route P", "dns A", ...
    QStringList present, absent;
    bool ipv6Guard, dnsGuard;
    QStringList dnsSeen; // in the resolver's file or the record of its calls ("%1": the tunnel's index)
};

const QList<Row> &rows()
{
    static const QList<Row> all {
        {"split routes, no DNS, IPv6 endpoint", "file", "2001:db8:7::1 443 udp",
         {"address4 10.8.0.2/24", "route 10.20.0.0/16", "route 172.16.5.0/24"},
         {"10.20.0.0/16 dev vvpn0 proto 118", "172.16.5.0/24 dev vvpn0 proto 118", "inet 10.8.0.2/24"},
         {"0.0.0.0/1", "2001:db8:7::1"}, true, false, {}},
        {"split routes, DNS outside them", "file", "198.51.100.7 443 both",
         {"address4 10.8.0.2/24", "route 10.20.0.0/16", "dns 10.99.0.53", "dns fd00::53"},
         {"10.20.0.0/16 dev vvpn0 proto 118", "10.99.0.53 dev vvpn0 proto 118"},
         {"0.0.0.0/1", "198.51.100.7"}, true, true, {"nameserver 10.99.0.53\nsearch lan.example\noptions edns0\n"}},
        {"full tunnel, DNS", "file", "198.51.100.7 443 udp",
         {"address4 10.8.0.2/24", "mtu 1400", "route 0.0.0.0/0", "dns 10.8.0.1"},
         {"0.0.0.0/1 dev vvpn0 proto 118", "128.0.0.0/1 dev vvpn0 proto 118",
          "198.51.100.7 via 192.0.2.1 dev phys0 proto 118", "default via 192.0.2.1 dev phys0", "mtu 1400"},
         {"10.8.0.1 dev vvpn0"}, true, true, {"nameserver 10.8.0.1\n"}},
        {"full tunnel, IPv4 and IPv6, excludes", "resolvconf", "198.51.100.7 443 tcp",
         {"address4 10.8.0.2/24", "address6 fd00:8::2/64", "route 0.0.0.0/0", "route ::/0", "exclude 203.0.113.0/24",
          "exclude 2001:db8:5::/48", "dns 10.8.0.1", "dns fd00:8::1"},
         {"::/1 dev vvpn0 proto 118", "8000::/1 dev vvpn0 proto 118", "198.51.100.7 via 192.0.2.1 dev phys0 proto 118",
          "203.0.113.0/24 via 192.0.2.1 dev phys0 proto 118", "2001:db8:5::/48 via 2001:db8:1::1 dev phys0 proto 118",
          "inet6 fd00:8::2/64"},
         {}, false, true, {"-a tun.vvpn0.varnelvpn IF_EXCLUSIVE=1\nnameserver 10.8.0.1\nnameserver fd00:8::1\n"}},
        {"IPv6 tunnel, IPv6 endpoint", "resolved", "2001:db8:7::1 443 udp",
         {"address4 10.8.0.2/24", "address6 fd00:8::2/64", "route ::/0", "route 0.0.0.0/0", "dns fd00:8::1"},
         {"2001:db8:7::1 via 2001:db8:1::1 dev phys0 proto 118", "8000::/1 dev vvpn0 proto 118"},
         {}, false, true,
         {"SetLinkDNS %1 10 fd00:8::1\nSetLinkDomains %1 . true\nSetLinkDefaultRoute %1 true\n"}},
    };
    return all;
}

const Row *rowNamed(const QString &name)
{
    for (const Row &r : rows()) {
        if (name == QLatin1String(r.name))
            return &r;
    }
    return nullptr;
}

// A connection the tests make before each row's: the row's apply() replaces it.
const QStringList kEarlier {"address4 10.9.0.2/24", "route 10.77.0.0/16", "dns 10.66.0.53", "exclude 203.0.114.0/24"};

Address addressOf(const QString &text)
{
    return Rtnl::address(text.toStdString()).value_or(Address {});
}

TunnelSettings settingsOf(const QStringList &fields)
{
    TunnelSettings s;
    s.device = "vvpn0";
    for (const QString &f : fields) {
        const QString key = f.section(' ', 0, 0);
        const std::string value = f.section(' ', 1).toStdString();
        const auto prefix = Rtnl::prefix(value);
        if (key == "address4")
            s.address4 = prefix;
        else if (key == "address6")
            s.address6 = prefix;
        else if (key == "mtu")
            s.mtu = std::stoi(value);
        else if (key == "route")
            s.routes.push_back(*prefix);
        else if (key == "exclude")
            s.excludes.push_back(*prefix);
        else if (key == "dns")
            s.dns.push_back(addressOf(QString::fromStdString(value)));
    }
    return s;
}

Endpoint endpointOf(const Row &row)
{
    const QStringList e = QString::fromLatin1(row.endpoint).split(' ');
    const QString t = e.value(2);
    return {addressOf(e.value(0)), quint16(e.value(1).toUInt()),
            t == "udp" ? Transport::Udp : t == "tcp" ? Transport::Tcp : Transport::Both};
}

// What a shell command prints, errors included.
QString out(const QString &command)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start("sh", {"-c", command});
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAll());
}

// 0 when a datagram bound to the physical link leaves, EPERM when the guards
// refuse it (anything else is a fault of the test's network).
int sendOut(const char *to, const char *port, quint16 fromPort = 0)
{
    const addrinfo hints {AI_NUMERICHOST | AI_NUMERICSERV, AF_UNSPEC, SOCK_DGRAM, 0, 0, nullptr, nullptr, nullptr};
    addrinfo *target = nullptr;
    if (::getaddrinfo(to, port, &hints, &target) != 0)
        return -1;
    const int fd = ::socket(target->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, "phys0", 6);
    sockaddr_in6 from {};
    from.sin6_family = AF_INET6;
    from.sin6_port = htons(fromPort);
    if (fromPort)
        ::bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof from);
    const int rc = ::sendto(fd, "x", 1, 0, target->ai_addr, target->ai_addrlen) == 1 ? 0 : errno;
    ::close(fd);
    ::freeaddrinfo(target);
    return rc;
}

// A call's argument as text: arrays and structures flattened, byte arrays
// (the DNS servers) as addresses.
QString argumentText(const QVariant &value)
{
    if (value.userType() == QMetaType::QByteArray) {
        const QByteArray bytes = value.toByteArray();
        Address address {bytes.size() == 4 ? AF_INET : AF_INET6, {}};
        std::copy(bytes.begin(), bytes.end(), address.bytes.begin());
        return QString::fromStdString(Rtnl::text(address));
    }
    if (value.userType() != qMetaTypeId<QDBusArgument>())
        return value.toString();
    const auto nested = value.value<QDBusArgument>();
    const bool array = nested.currentType() == QDBusArgument::ArrayType;
    array ? nested.beginArray() : nested.beginStructure();
    QStringList items;
    while (!nested.atEnd())
        items << argumentText(nested.asVariant());
    array ? nested.endArray() : nested.endStructure();
    return items.join(' ');
}

// Plays org.freedesktop.resolve1 on the private bus and writes each call it
// gets as a line.
class ResolvedStandIn : public QDBusVirtualObject
{
public:
    explicit ResolvedStandIn(QString log) : m_log(std::move(log)) {}
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        QString line = message.member();
        for (const QVariant &argument : message.arguments())
            line += ' ' + argumentText(argument);
        QFile f(m_log);
        f.open(QIODevice::Append);
        f.write(line.toUtf8() + '\n');
        f.close();
        connection.send(message.createReply());
        return true;
    }

private:
    QString m_log;
};

int standIn(const QString &log)
{
    ResolvedStandIn object(log);
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.registerVirtualObject("/org/freedesktop/resolve1", &object) || !bus.registerService("org.freedesktop.resolve1"))
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

// The crash: applies a row, says so, and waits for its SIGKILL.
int applyAndWait(const QString &stateDir, const QString &rowName)
{
    const Row *row = rowNamed(rowName);
    TunnelNetwork net(stateDir.toStdString());
    std::string error;
    if (!row || !net.apply(endpointOf(*row), settingsOf(row->settings), &error))
        return 1;
    std::printf("applied\n");
    std::fflush(stdout);
    ::pause();
    return 0;
}

} // namespace

class TunnelNetworkTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const char *name) const { return m_dir.filePath(QLatin1String(name)); }
    const QString m_resolvConf = path("resolv.conf"), m_resolvconfLog = path("resolvconf.log"),
                  m_resolvedLog = path("resolved.log"), m_overlay = path("overlay");
    QProcess m_bus, m_standIn;

    QString stateDir() const { return path("state"); }
    static QByteArray read(const QString &file)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static void write(const QString &file, const QByteArray &data)
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(data);
    }
    static bool sh(const QString &commands)
    {
        return QProcess::execute("/bin/sh", {"-ec", commands}) == 0;
    }

    // The main routing tables (sorted: routes of one prefix come back in
    // another order) and the tunnel's link and addresses, without its index
    // and queueing discipline, which the kernel changes on its own.
    static QString routes()
    {
        return out("{ ip -4 route show table main; ip -6 route show table main; } | sort; "
                   "ip addr show dev vvpn0 | sed -e '1s/^[0-9]*: //' -e 's/qdisc [^ ]* //'");
    }
    // As lines, so that a difference is shown where it is.
    static QStringList snapshot() { return (routes() + out("nft -a list ruleset")).split('\n'); }

    // How this row's machine manages DNS, and what was done to it.
    void useResolver(const QString &kind)
    {
        write(m_resolvConf, kind == "resolved" ? "nameserver 127.0.0.53\noptions edns0 trust-ad\nsearch .\n"
                                               : "nameserver 192.0.2.53\nsearch lan.example\noptions edns0\n");
        ::umount2("/usr/sbin", MNT_DETACH);
        if (kind == "resolvconf") {
            const QString o = m_overlay;
            QVERIFY2(::mount("overlay", "/usr/sbin", "overlay", 0,
                             qPrintable("lowerdir=/usr/sbin,upperdir=" + o + "/upper,workdir=" + o + "/work")) == 0,
                     "overlay over /usr/sbin (for a recording resolvconf)");
        }
        write(m_resolvconfLog, "");
        write(m_resolvedLog, "");
    }
    QString resolverText(const QString &kind) const
    {
        return QString::fromUtf8(read(kind == "file" ? m_resolvConf : kind == "resolvconf" ? m_resolvconfLog : m_resolvedLog));
    }
    void checkApplied(const Row &row)
    {
        const QString now = routes();
        for (const QString &p : row.present)
            QVERIFY2(now.contains(p), qPrintable(p + " missing in\n" + now));
        for (const QString &p : row.absent + QStringList {"10.77.0.0", "10.66.0.53", "10.9.0.2", "203.0.114.0"})
            QVERIFY2(!now.contains(p), qPrintable(p + " left in\n" + now));
        const int tunnel = int(::if_nametoindex("vvpn0"));
        for (const QString &seen : row.dnsSeen)
            QVERIFY2(resolverText(row.resolver).contains(QString(seen).replace("%1", QString::number(tunnel))),
                     qPrintable(resolverText(row.resolver)));
        // Bound to the physical link: IPv6 and DNS only as the guards allow;
        // DHCPv6, other ports and the endpoint always.
        QCOMPARE(sendOut("2001:db8:1::1", "9"), row.ipv6Guard ? EPERM : 0);
        QCOMPARE(sendOut("ff02::1:2%phys0", "547", 546), 0);
        QCOMPARE(sendOut("192.0.2.53", "53"), row.dnsGuard ? EPERM : 0);
        QCOMPARE(sendOut("192.0.2.53", "54"), 0);
        const QStringList endpoint = QString::fromLatin1(row.endpoint).split(' ');
        if (endpoint.at(2) != "tcp")
            QCOMPARE(sendOut(qPrintable(endpoint.at(0)), qPrintable(endpoint.at(1))), 0);
    }
    void checkUndone(const Row &row, const QStringList &before, const QByteArray &resolvConf)
    {
        QCOMPARE(snapshot(), before);
        QCOMPARE(read(m_resolvConf), resolvConf);
        const bool dns = !row.dnsSeen.isEmpty();
        if (QString(row.resolver) == "resolvconf")
            QCOMPARE(resolverText(row.resolver).contains("-d tun.vvpn0.varnelvpn"), dns);
        if (QString(row.resolver) == "resolved")
            QCOMPARE(resolverText(row.resolver).contains("RevertLink"), dns);
        QVERIFY(QDir(stateDir()).entryList(QDir::Files).isEmpty());
    }
    void rowsData()
    {
        QTest::addColumn<QString>("row");
        for (const Row &r : rows())
            QTest::newRow(r.name) << QString::fromLatin1(r.name);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir().mkpath(stateDir()));
        write(m_resolvConf, "");
        QVERIFY(::mount(qPrintable(m_resolvConf), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) == 0);
        QVERIFY(QDir().mkpath(m_overlay + "/upper") && QDir().mkpath(m_overlay + "/work"));
        write(m_overlay + "/upper/resolvconf",
              "#!/bin/sh\n{ echo \"$* IF_EXCLUSIVE=$IF_EXCLUSIVE\"; cat; } >> " + m_resolvconfLog.toUtf8() + "\n");
        QFile::setPermissions(m_overlay + "/upper/resolvconf", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(sh("ip link set lo up\n"
                   "ip link add phys0 type veth peer name phys0peer\n"
                   "ip link set phys0peer up\n"
                   "sysctl -qw net.ipv6.conf.phys0.keep_addr_on_down=1\n"
                   "ip link set phys0 up\n"
                   "ip addr add 192.0.2.10/24 dev phys0\n"
                   "ip addr add 2001:db8:1::10/64 dev phys0 nodad\n"
                   "ip route add default via 192.0.2.1\n"
                   "ip -6 route add default via 2001:db8:1::1\n"
                   "ip tuntap add dev vvpn0 mode tun\n"));
        // Tables such as a container engine's and a firewall manager's.
        QVERIFY(sh("nft -f - <<'EOF'\n"
                   "table ip foreign_nat {\n chain postrouting { type nat hook postrouting priority srcnat; policy accept;"
                   " oifname \"phys0\" masquerade; }\n}\n"
                   "table inet foreign_filter {\n chain input { type filter hook input priority filter; policy accept;"
                   " ct state established,related accept; iifname \"lo\" accept; tcp dport 22 accept; }\n"
                   " chain output { type filter hook output priority filter; policy accept; ip6 daddr ::1 accept; }\n}\n"
                   "EOF\n"));
        // A private bus as the system bus (a session bus lets anyone own any
        // name), its socket in the test's folder, and systemd-resolved's stand-in.
        m_bus.start("dbus-daemon", {"--session", "--address=unix:path=" + path("bus"), "--nofork", "--print-address"});
        QVERIFY(m_bus.waitForReadyRead(10000));
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_bus.readLine().trimmed());
        m_standIn.start(QCoreApplication::applicationFilePath(), {"--resolve1-standin", m_resolvedLog});
        QVERIFY(m_standIn.waitForReadyRead(10000));
        QCOMPARE(m_standIn.readLine().trimmed(), QByteArray("ready"));
    }

    void cleanupTestCase()
    {
        // The namespaces, and everything in them, go with this process.
        for (QProcess *p : {&m_standIn, &m_bus}) {
            p->kill();
            p->waitForFinished();
        }
    }

    // Over an earlier connection and undone, ten times per row (fifty cycles):
    // the foreign tables, routes and resolver byte for byte as before each time.
    void applyAndRemove_data() { rowsData(); }
    void applyAndRemove()
    {
        QFETCH(QString, row);
        const Row &r = *rowNamed(row);
        useResolver(r.resolver);
        const QStringList before = snapshot();
        const QByteArray resolvConf = read(m_resolvConf);
        TunnelNetwork net(stateDir().toStdString());
        for (int cycle = 0; cycle < 10; ++cycle) {
            write(m_resolvconfLog, "");
            write(m_resolvedLog, "");
            std::string error;
            QVERIFY2(net.apply(endpointOf(r), settingsOf(kEarlier), &error), error.c_str());
            QVERIFY2(net.apply(endpointOf(r), settingsOf(r.settings), &error), error.c_str());
            checkApplied(r);
            net.remove();
            checkUndone(r, before, resolvConf);
        }
        net.remove();
        QCOMPARE(snapshot(), before);
    }

    // A network manager that rewrote resolv.conf meanwhile has the newer
    // content: it stays.
    void resolverRewrittenMeanwhile()
    {
        const Row &r = *rowNamed("full tunnel, DNS");
        useResolver(r.resolver);
        TunnelNetwork net(stateDir().toStdString());
        std::string error;
        QVERIFY2(net.apply(endpointOf(r), settingsOf(r.settings), &error), error.c_str());
        write(m_resolvConf, "nameserver 192.0.2.99\n");
        net.remove();
        QCOMPARE(read(m_resolvConf), QByteArray("nameserver 192.0.2.99\n"));
        QVERIFY(QDir(stateDir()).entryList(QDir::Files).isEmpty());
    }

    // The service killed while connected: its next start puts everything
    // back, even when a power cut lost its copy of resolv.conf.
    void crashAndRecover_data()
    {
        rowsData();
        QTest::newRow("full tunnel, DNS; copy lost") << "full tunnel, DNS";
    }
    void crashAndRecover()
    {
        QFETCH(QString, row);
        const bool copyLost = QByteArray(QTest::currentDataTag()).endsWith("copy lost");
        const Row &r = *rowNamed(row);
        useResolver(r.resolver);
        const QStringList before = snapshot();
        const QByteArray resolvConf = read(m_resolvConf);
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--apply-and-wait", stateDir(), row});
        QVERIFY(child.waitForReadyRead(10000));
        QCOMPARE(child.readLine().trimmed(), QByteArray("applied"));
        ::kill(pid_t(child.processId()), SIGKILL);
        child.waitForFinished();
        QVERIFY(routes().contains(r.present.first()));
        if (copyLost)
            QVERIFY(QFile::remove(stateDir() + "/resolv.conf.varnelvpn"));
        TunnelNetwork::recover(stateDir().toStdString());
        checkUndone(r, before, resolvConf);
    }
};

int main(int argc, char **argv)
{
    const QString role = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (role == "--resolve1-standin" || role == "--apply-and-wait") {
        QCoreApplication app(argc, argv);
        return role == "--resolve1-standin" ? standIn(app.arguments().value(2))
                                            : applyAndWait(app.arguments().value(2), app.arguments().value(3));
    }
    // Before any thread exists: namespaces of our own, so that nothing here
    // reaches the host's network, firewall or resolver.
    const char *missing = ::geteuid() != 0                                    ? "root"
                          : ::access("/dev/net/tun", R_OK | W_OK) != 0        ? "/dev/net/tun"
                          : QStandardPaths::findExecutable("dbus-daemon").isEmpty() ? "dbus-daemon"
                          : QStandardPaths::findExecutable("nft").isEmpty()   ? "nft"
                          : ::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0       ? "network and mount namespaces"
                          : ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ? "a private mount namespace"
                                                                                            : nullptr;
    if (missing) {
        std::printf("SKIP: tst_tunnelnetwork needs %s\n", missing);
        return 77;
    }
    QCoreApplication app(argc, argv);
    TunnelNetworkTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_tunnelnetwork.moc"
