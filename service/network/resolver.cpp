#include "service/network/resolver.h"

#include "service/network/rtnetlink.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDebug>

#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>

namespace Varnel::Service {

// What systemd-resolved's SetLinkDNS and SetLinkDomains take: a(iay), a(sb).
struct ResolvedServer
{
    qint32 family = 0;
    QByteArray address;
};
struct ResolvedDomain
{
    QString name;
    bool routeOnly = false;
};

} // namespace Varnel::Service

Q_DECLARE_METATYPE(Varnel::Service::ResolvedServer)
Q_DECLARE_METATYPE(Varnel::Service::ResolvedDomain)

namespace Varnel::Service {

QDBusArgument &operator<<(QDBusArgument &out, const ResolvedServer &s)
{
    out.beginStructure();
    out << s.family << s.address;
    out.endStructure();
    return out;
}
const QDBusArgument &operator>>(const QDBusArgument &in, ResolvedServer &s)
{
    in.beginStructure();
    in >> s.family >> s.address;
    in.endStructure();
    return in;
}
QDBusArgument &operator<<(QDBusArgument &out, const ResolvedDomain &d)
{
    out.beginStructure();
    out << d.name << d.routeOnly;
    out.endStructure();
    return out;
}
const QDBusArgument &operator>>(const QDBusArgument &in, ResolvedDomain &d)
{
    in.beginStructure();
    in >> d.name >> d.routeOnly;
    in.endStructure();
    return in;
}

namespace {

constexpr const char *kResolvConf = "/etc/resolv.conf";
// Debian's resolvconf and openresolv both live here; never taken from PATH.
constexpr const char *kResolvconf = "/sbin/resolvconf";
constexpr const char *kBackup = "/resolv.conf.varnelvpn";
constexpr std::size_t kMaxResolvConf = 64 * 1024;

bool readFile(const std::string &path, std::string *content, std::size_t limit = kMaxResolvConf)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    content->clear();
    char chunk[4096];
    ssize_t got;
    while ((got = ::read(fd, chunk, sizeof chunk)) > 0 && content->size() <= limit)
        content->append(chunk, std::size_t(got));
    ::close(fd);
    return got == 0 && content->size() <= limit;
}

bool writeAll(int fd, const std::string &data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::pwrite(fd, data.data() + done, data.size() - done, off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

// In place, never by renaming over it: it may be a bind mount (ip netns exec
// mounts one over it) or a link into another program's folder.
bool rewriteInPlace(const std::string &content)
{
    const int fd = ::open(kResolvConf, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = writeAll(fd, content) && ::ftruncate(fd, off_t(content.size())) == 0;
    return ::close(fd) == 0 && ok;
}

// Our own copy: a new file renamed into place, so that a crash leaves the
// old copy or the new one, never half of one. Not synced: a power cut is
// what the copy inside the rewritten file is for.
bool writeAtomically(const std::string &path, const std::string &content)
{
    const std::string temp = path + ".new";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool ok = writeAll(fd, content);
    if (::close(fd) != 0 || !ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

// The backup: a header with both sizes, the original, then what we wrote.
std::string backupText(const std::string &original, const std::string &ours)
{
    return "VarnelVPN resolv.conf 1 " + std::to_string(original.size()) + ' ' + std::to_string(ours.size()) + '\n'
           + original + ours;
}

bool readBackup(const std::string &stateDir, std::string *original, std::string *ours)
{
    std::string data;
    if (!readFile(stateDir + kBackup, &data, 2 * kMaxResolvConf + 64))
        return false;
    const auto end = data.find('\n');
    std::istringstream header(data.substr(0, end));
    std::string a, b;
    int version = 0;
    std::size_t originalSize = 0, oursSize = 0;
    if (end == std::string::npos || !(header >> a >> b >> version >> originalSize >> oursSize) || version != 1
        || data.size() != end + 1 + originalSize + oursSize)
        return false;
    *original = data.substr(end + 1, originalSize);
    *ours = data.substr(end + 1 + originalSize);
    return true;
}

constexpr const char *kHeader = "# VarnelVPN: the VPN's DNS servers while it is connected; the original comes back at the end\n";
constexpr const char *kOriginal = "# VarnelVPN: the original, as it comes back (\"#|\" and a line of it):\n";

// Our servers first; the original's search domains and options stay. The
// original itself follows as comments, so that whatever a power cut leaves
// on disk still holds it: no sync is needed before the file changes.
std::string composeResolvConf(const std::string &original, const std::vector<Address> &servers)
{
    std::string out = kHeader;
    for (const Address &a : servers)
        out += "nameserver " + Rtnl::text(a) + '\n';
    std::istringstream lines(original);
    for (std::string line; std::getline(lines, line);) {
        const auto start = line.find_first_not_of(" \t");
        for (const char *keep : {"search", "domain", "options", "sortlist"}) {
            if (start != std::string::npos && line.compare(start, std::strlen(keep), keep) == 0)
                out += line + '\n';
        }
    }
    out += kOriginal;
    std::size_t from = 0;
    for (std::size_t end; (end = original.find('\n', from)) != std::string::npos; from = end + 1)
        out += "#|" + original.substr(from, end - from) + '\n';
    return out + "#|" + original.substr(from) + '\n';
}

// The original kept inside a file composeResolvConf() wrote.
std::optional<std::string> embeddedOriginal(const std::string &content)
{
    const auto at = content.find(kOriginal);
    if (content.rfind(kHeader, 0) != 0 || at == std::string::npos)
        return std::nullopt;
    std::string original;
    std::istringstream lines(content.substr(at + std::strlen(kOriginal)));
    bool first = true;
    for (std::string line; std::getline(lines, line); first = false) {
        if (line.rfind("#|", 0) != 0)
            return std::nullopt;
        original += (first ? "" : "\n") + line.substr(2);
    }
    return original;
}

bool namesResolvedStub(const std::string &content)
{
    char real[PATH_MAX];
    if (::realpath(kResolvConf, real) && std::strncmp(real, "/run/systemd/resolve/", 21) == 0)
        return true;
    std::istringstream lines(content);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string key, value;
        if (words >> key >> value && key == "nameserver" && (value == "127.0.0.53" || value == "127.0.0.54"))
            return true;
    }
    return false;
}

QDBusMessage callBus(const QString &service, const QString &path, const QString &interface, const QString &method,
                     const QVariantList &arguments)
{
    QDBusMessage m = QDBusMessage::createMethodCall(service, path, interface, method);
    m.setArguments(arguments);
    // Bounded: a hung bus must not hold the service.
    return QDBusConnection::systemBus().call(m, QDBus::Block, 5000);
}

bool resolvedOnBus()
{
    if (!QDBusConnection::systemBus().isConnected())
        return false;
    const QDBusMessage reply = callBus("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                       "NameHasOwner", {QStringLiteral("org.freedesktop.resolve1")});
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
}

bool callResolved(const char *method, const QVariantList &arguments, std::string *error)
{
    const QDBusMessage reply = callBus("org.freedesktop.resolve1", "/org/freedesktop/resolve1",
                                       "org.freedesktop.resolve1.Manager", QString::fromLatin1(method), arguments);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    if (error)
        *error = std::string("systemd-resolved refused ") + method + ": " + reply.errorMessage().toStdString();
    return false;
}

bool resolvconfInstalled()
{
    struct stat st {};
    if (::stat(kResolvconf, &st) != 0 || !S_ISREG(st.st_mode) || ::access(kResolvconf, X_OK) != 0)
        return false;
    // systemd's stand-in for it speaks to resolved and wants real interface
    // names; where resolved runs without its stub, the file is ours to write.
    char real[PATH_MAX];
    return !(::realpath(kResolvconf, real) && std::strstr(real, "resolvectl"));
}

// Runs resolvconf with a fixed environment and input, bounded to 10 s.
bool runResolvconf(const std::string &command, const std::string &record, const std::string &input,
                   std::string *error)
{
    const int in = ::memfd_create("resolvconf-input", MFD_CLOEXEC);
    if (in < 0 || !writeAll(in, input)) {
        if (in >= 0)
            ::close(in);
        *error = "no input for resolvconf";
        return false;
    }
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, in, 0);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigfillset(&defaults);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::string program = kResolvconf;
    std::vector<char *> argv {program.data(), const_cast<char *>(command.c_str()), const_cast<char *>(record.c_str()), nullptr};
    // openresolv reads IF_EXCLUSIVE: only our servers while the tunnel is up.
    // Debian's resolvconf ignores it and orders records by name ("tun*" first).
    char path[] = "PATH=/usr/sbin:/usr/bin:/sbin:/bin", exclusive[] = "IF_EXCLUSIVE=1", locale[] = "LC_ALL=C";
    char *envp[] = {path, exclusive, locale, nullptr};
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, kResolvconf, &files, &attr, argv.data(), envp);
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attr);
    ::close(in);
    if (rc != 0) {
        *error = std::string("resolvconf could not be started: ") + std::strerror(rc);
        return false;
    }
    const int pidfd = int(::syscall(SYS_pidfd_open, pid, 0));
    pollfd p {pidfd, POLLIN, 0};
    if (pidfd >= 0 && ::poll(&p, 1, 10000) == 0)
        ::kill(pid, SIGKILL);
    if (pidfd >= 0)
        ::close(pidfd);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;
    *error = "resolvconf " + command + " " + record + " failed ("
             + (WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status)) : std::string("killed")) + ")";
    return false;
}

void registerResolvedTypes()
{
    static const bool done = [] {
        qDBusRegisterMetaType<ResolvedServer>();
        qDBusRegisterMetaType<QList<ResolvedServer>>();
        qDBusRegisterMetaType<ResolvedDomain>();
        qDBusRegisterMetaType<QList<ResolvedDomain>>();
        return true;
    }();
    (void)done;
}

std::string interfaceName(int ifindex)
{
    char name[IF_NAMESIZE] = "";
    return ::if_indextoname(unsigned(ifindex), name) ? name : "";
}

} // namespace

Resolver::Resolver(std::string stateDir) : m_stateDir(std::move(stateDir)) {}

bool Resolver::apply(const std::string &device, int ifindex, const std::vector<Address> &servers,
                     const Record &record, std::string *error)
{
    if (servers.empty()) {
        revert();
        qInfo().noquote() << "The VPN server pushed no DNS servers: the system's resolver is left as it is";
        return true;
    }
    if (active() && servers == m_servers)
        return true;
    std::string current;
    const bool haveFile = readFile(kResolvConf, &current);
    if (!active()) {
        // The way this machine manages its resolver decides, checked in this
        // order; the record names what we did before we do it.
        std::string line;
        if (haveFile && namesResolvedStub(current) && resolvedOnBus()) {
            m_kind = Kind::Resolved;
            line = "dns resolved " + std::to_string(ifindex) + ' ' + device;
        } else if (resolvconfInstalled()) {
            m_kind = Kind::Resolvconf;
            m_name = "tun." + device + ".varnelvpn";
            line = "dns resolvconf " + m_name;
        } else {
            m_kind = Kind::File;
            line = "dns file";
        }
        if (!record(line)) {
            m_kind = Kind::None;
            *error = "the service's state folder cannot be written";
            return false;
        }
        m_record = line;
    }
    m_servers = servers;
    std::string list;
    for (const Address &a : servers)
        list += ' ' + Rtnl::text(a);

    if (m_kind == Kind::Resolved) {
        registerResolvedTypes();
        QList<ResolvedServer> dns;
        for (const Address &a : servers)
            dns.append({a.family, QByteArray(reinterpret_cast<const char *>(a.bytes.data()), a.family == AF_INET6 ? 16 : 4)});
        // "~.": every name is looked up on this link, and on no other.
        const QList<ResolvedDomain> everything {{QStringLiteral("."), true}};
        if (!callResolved("SetLinkDNS", {ifindex, QVariant::fromValue(dns)}, error)
            || !callResolved("SetLinkDomains", {ifindex, QVariant::fromValue(everything)}, error)
            || !callResolved("SetLinkDefaultRoute", {ifindex, true}, error))
            return false;
        qInfo().noquote() << ("DNS through systemd-resolved on " + device + ":" + list).c_str();
        return true;
    }
    if (m_kind == Kind::Resolvconf) {
        std::string input;
        for (const Address &a : servers)
            input += "nameserver " + Rtnl::text(a) + '\n';
        if (!runResolvconf("-a", m_name, input, error))
            return false;
        qInfo().noquote() << ("DNS through resolvconf (" + m_name + "):" + list).c_str();
        return true;
    }
    std::string original, ours;
    if (!readBackup(m_stateDir, &original, &ours)) {
        if (!haveFile) {
            *error = "there is no /etc/resolv.conf to name the VPN's DNS servers in";
            return false;
        }
        original = current;
    }
    ours = composeResolvConf(original, servers);
    // The original is kept before the file changes.
    if (!writeAtomically(m_stateDir + kBackup, backupText(original, ours))) {
        *error = "the original /etc/resolv.conf cannot be kept in the state folder";
        return false;
    }
    if (!rewriteInPlace(ours)) {
        *error = std::string("/etc/resolv.conf cannot be written: ") + std::strerror(errno);
        return false;
    }
    qInfo().noquote() << ("DNS through /etc/resolv.conf:" + list).c_str();
    return true;
}

void Resolver::revert()
{
    if (!active())
        return;
    undo(m_stateDir, m_record);
    m_record.clear();
    m_name.clear();
    m_servers.clear();
    m_kind = Kind::None;
}

void Resolver::undo(const std::string &stateDir, const std::string &record)
{
    std::istringstream words(record);
    std::string dns, kind, name;
    int ifindex = 0;
    words >> dns >> kind;
    std::string error;
    if (kind == "resolved" && words >> ifindex >> name) {
        // Only while the link is still the one we set (an index is reused).
        if (interfaceName(ifindex) == name && !callResolved("RevertLink", {ifindex}, &error))
            qWarning().noquote() << error.c_str();
    } else if (kind == "resolvconf" && words >> name) {
        if (!runResolvconf("-d", name, std::string(), &error))
            qWarning().noquote() << error.c_str();
    } else if (kind == "file") {
        restoreFile(stateDir);
    }
}

void Resolver::restoreFile(const std::string &stateDir)
{
    std::string original, ours, current;
    const bool kept = readBackup(stateDir, &original, &ours);
    const bool readable = readFile(kResolvConf, &current);
    // Without our copy (lost to a power cut) the file holds the original.
    const auto embedded = readable && !kept ? embeddedOriginal(current) : std::nullopt;
    if (!kept && !embedded)
        return;
    // Another program that wrote the file meanwhile (a DHCP client, a
    // network manager) wins: its content is newer than our original.
    if (!readable || (kept && current != ours)) {
        qInfo().noquote() << "/etc/resolv.conf was changed by another program meanwhile: left as it is";
    } else if (!rewriteInPlace(kept ? original : *embedded)) {
        // The copy stays for the next try (the next start of the service).
        qWarning().noquote() << "/etc/resolv.conf cannot be restored:" << std::strerror(errno);
        return;
    }
    ::unlink((stateDir + kBackup).c_str());
}

} // namespace Varnel::Service
