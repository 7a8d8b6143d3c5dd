#pragma once

#include "integration/backend/clientsandbox.h"
#include "integration/backend/refbackendprocess.h"
#include "messagecatcher.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>

namespace Varnel {

class ConnectPage;
class RootWindow;

// The VPN lab an end-to-end test runs in (run-in-lab.sh): its values, control
// of its servers and service, and what the tests read of the client namespace
// and of their own process.
class Lab
{
public:
    // True when the process runs inside a lab (through run-in-lab.sh).
    static bool inside() { return !value("SCRIPT").isEmpty(); }
    // VARNEL_LAB_<key> as UTF-8, whatever the locale says; empty when not set.
    static QString value(const char *key) { return QString::fromUtf8(qgetenv(QByteArray("VARNEL_LAB_") + key)); }

    // Has the lab's agent run `lab.sh ARGUMENTS` (the test runs as the lab
    // user), e.g. {"kill", "ocserv", "KILL"} (returns once it is gone),
    // {"start", "ocserv"} (once it serves), {"service", "stop", "TERM"};
    // false, with the output in lastError, unless it exits 0.
    static bool control(const QStringList &arguments);
    // What the last command printed, and why it failed.
    static inline QString lastOutput;
    static inline QString lastError;
    // True while the kill switch blocks the client namespace.
    static bool blocking() { return control({QStringLiteral("blocking")}); }

    // The target answers: only through a tunnel.
    static bool targetReachable(int timeoutMs = 1000);
    // A fresh tunnel may need a moment before its route carries traffic.
    static bool targetReachableSoon();
    // The tunnel device the service made, when one is up here.
    static QString tunnelDevice();
    // The OpenVPN programs of the lab user, as pgrep lists them.
    static QString openVpnProcesses();
    // The address a name has for the system's resolver; empty when none.
    static QString resolve(const QString &name);
    // `lab.sh client-state`: routes, addresses, firewall, resolver file, the
    // service's records, then the kill switch's block.
    static QString clientState();
    // Lines of after that are not in before and the other way round.
    static QString difference(const QString &before, const QString &after);

    // The names in a folder, hidden ones too.
    static QStringList entries(const QString &dir);
    // This process's resident memory.
    static qint64 residentKiB();
};

// A further ocserv beside the lab's own (lab.sh extra-ocserv): on another
// port, with a key of its own (new on every start) and optionally
// authentication groups. Stopped when the object goes.
class ExtraOcserv
{
public:
    explicit ExtraOcserv(quint16 port, const QStringList &groups = {}) : m_port(port), m_groups(groups) {}
    ~ExtraOcserv() { Lab::control({QStringLiteral("extra-ocserv"), QStringLiteral("stop"), QString::number(m_port)}); }
    // A fresh key and certificate, then the server; true once it listens.
    bool start();
    // What the client is given as its gateway ("address:port").
    QString gateway() const { return QStringLiteral("%1:%2").arg(Lab::value("SERVER_ADDR")).arg(m_port); }
    // Logins that got as far as checking a password since the last start.
    int authentications() const;

private:
    QString logPath() const { return Lab::value("DIR") + QStringLiteral("/extra-%1/ocserv.log").arg(m_port); }
    const quint16 m_port;
    const QStringList m_groups;
    qint64 m_logStart = 0;
};

// Packets that arrived outside the tunnel (full-tunnel mode), by kind: tcp,
// udp, icmp, dns, ipv6, bound (to the physical link), other.
using Counts = QMap<QString, qint64>;
Counts leaks();
Counts operator-(const Counts &after, const Counts &before);
qint64 total(const Counts &counts);
QString format(const Counts &counts);

// One probe of each kind per round: TCP, UDP and ICMP to a host beyond the
// link, a DNS query to the resolver the resolver file names, the same over
// IPv6, and TCP, UDP, ICMP and DNS bound to the physical link.
class Prober
{
public:
    Prober() { QObject::connect(&m_timer, &QTimer::timeout, [this] { round(); }); }
    ~Prober() { closeSockets(); }
    void round();
    // Runs rounds every intervalMs while doing, then a last one; the packets counted meanwhile.
    Counts during(const std::function<void()> &doing, int intervalMs = 20);

private:
    // Closes the sockets of all rounds but the last keep.
    void closeSockets(int keep = 0);

    QTimer m_timer;
    QList<QList<int>> m_rounds;
};

// Server ids on the backend: the lab's two servers, and each protocol at an
// address where nothing answers.
constexpr int kOcserv = 1;
constexpr int kOpenVpn = 2;
constexpr int kUnreachableOcserv = 3;
constexpr int kUnreachableOpenVpn = 4;

// A server of the backend's list: type 1 (OpenVPN) with the configuration
// (empty: the lab's template) or 2 (OpenConnect); the lab's two each in a
// category of their own.
QJsonObject server(int id, int type, const QString &address, const QByteArray &config = QByteArray());

// The window in this process, logged in by itself against the reference
// backend listing the lab's servers, driven through its pages; message boxes
// are answered and kept. Its sandbox also serves the real executable.
class Client
{
public:
    ~Client();
    // The backend with the lab's servers and the extra ones; false with the reason in error.
    bool startBackend(const QJsonArray &extraServers, QString *error);
    // A window logged in with the lab's account; false with the reason.
    bool logIn(QString *error);
    bool loggedIn() const;
    RootWindow *window() const { return m_window.get(); }
    ConnectPage *connectPage() const;
    int pageStatus() const;
    // The texts of the message boxes since the last press.
    QString messages() const { return m_boxes.texts().join(QLatin1Char('|')); }
    int boxCount() const { return m_boxes.texts().size(); }

    // Makes the server the active one and presses the big button.
    void press(int serverId);
    // press(), then waits for the outcome on the page: Connected (and the
    // tunnel carrying), or Disconnected after Connecting.
    int attempt(int serverId, int timeoutMs = 30000);
    // Presses the button if a tunnel is up or coming, and waits until it
    // is down and nothing of it runs.
    bool disconnectAndSettle();
    // Switches the kill switch with its toggle on the settings page.
    bool setKillSwitch(bool on);
    // Logs out through the menu, answering yes.
    bool logOut();

    // The executable, logged in by itself and connecting to serverId at
    // its start when autoConnect, on this sandbox's settings.
    void startExecutable(QProcess &process, int serverId, bool autoConnect);
    QVariant stored(const char *key) const;
    QString file(const QString &name) const { return m_files.filePath(name); }

private:
    QTemporaryDir m_files;
    RefBackendProcess m_backend;
    ClientSandbox m_sandbox;
    MessageCatcher m_boxes;
    std::unique_ptr<RootWindow> m_window;
};

// Runs the test object with no cap on messages: OpenVPN without its device
// prints a line per packet.
int exec(QObject *test, int argc, char **argv);

} // namespace Varnel
