#pragma once

#include "integration/backend/clientsandbox.h"
#include "integration/backend/refbackendprocess.h"
#include "messagecatcher.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>

namespace Varnel {

class ConnectPage;
class RootWindow;

// What the fault, termination, kill-switch, leak and soak tests share, in a
// lab of the full-tunnel mode (tools/lab/fulltunnel.sh): the reference
// backend listing the lab's servers, one client sandbox used by the window in
// this process and by the real executable started beside it, probes of every
// kind, and the lab's counters of what arrives outside the tunnel.
namespace FaultLab {

// VARNEL_LAB_<key> as UTF-8, whatever the locale says.
QString labValue(const char *key);

// Server ids on the backend: the lab's two servers, and each protocol at an
// address where nothing answers.
constexpr int kOcserv = 1;
constexpr int kOpenVpn = 2;
constexpr int kUnreachableOcserv = 3;
constexpr int kUnreachableOpenVpn = 4;

// An entry of the backend's server list: type 1 (OpenVPN) with the given
// configuration text (empty: the lab's template), or type 2 (OpenConnect).
QJsonObject server(int id, int type, const QString &address, const QByteArray &config = QByteArray());

// Packets that arrived outside the tunnel, by kind: tcp, udp, icmp, dns,
// ipv6, bound (sent by a program bound to the physical link), other.
using Counts = QMap<QString, qint64>;
Counts leaks();
Counts operator-(const Counts &after, const Counts &before);
Counts operator+(const Counts &one, const Counts &other);
qint64 total(const Counts &counts);
QString format(const Counts &counts);

// One probe of each kind per round: TCP, UDP and ICMP to a host beyond the
// link, a DNS query to the resolver the resolver file names, the same over
// IPv6, and TCP, UDP, ICMP and DNS bound to the physical link.
class Prober
{
public:
    Prober();
    ~Prober();
    void round();
    // Rounds every intervalMs while the event loop runs, until stop().
    void start(int intervalMs);
    void stop() { m_timer.stop(); }
    // Runs rounds while doing, then a last one; the packets counted meanwhile.
    Counts during(const std::function<void()> &doing, int intervalMs = 20);

private:
    // Closes the sockets of all rounds but the last keep.
    void closeSockets(int keep = 0);

    QTimer m_timer;
    QList<QList<int>> m_rounds;
};

// The client namespace as `lab.sh client-state` prints it (routes,
// addresses, firewall without the kill switch's block, resolver file, the
// service's records); and the routes alone, read here.
QString clientState();
QString routes();
// Lines of after that are not in before and the other way round.
QString difference(const QString &before, const QString &after);

// The tunnel device the service made, when one is up here.
QString tunnelDevice();
// The OpenVPN programs of this user in this network namespace.
QList<qint64> openVpnProcessesHere();
// The target answers: only through a tunnel.
bool targetReachable(int timeoutMs = 1000);
// The address a name has for the system's resolver; empty when none.
QString resolve(const QString &name);

// The window in this process as at a start of the program with a logged-in
// user (an automatic login against the backend), driven through its pages;
// message boxes are answered and kept. Also starts the real executable on
// the same settings.
class Client
{
public:
    Client();
    ~Client();
    // The backend with the lab's servers and the extra ones; false with the reason in error.
    bool startBackend(const QJsonArray &extraServers, QString *error);
    // A window logged in with the lab's account; false with the reason.
    bool logIn(QString *error);
    bool loggedIn() const;

    ConnectPage *connectPage() const;
    // "Protected Now" or "Not Protected".
    QString protection() const;
    int pageStatus() const;
    // The texts of the message boxes since the last press.
    QString messages() const { return m_boxes.texts().join(QLatin1Char('|')); }
    int boxes() const { return m_boxes.texts().size(); }

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
    QVariant stored(const char *key) const { return m_sandbox.stored(QLatin1String(key)); }

    RefBackendProcess &backend() { return m_backend; }
    QString file(const QString &name) const { return m_files.filePath(name); }

private:
    QTemporaryDir m_files;
    RefBackendProcess m_backend;
    ClientSandbox m_sandbox;
    MessageCatcher m_boxes;
    std::unique_ptr<RootWindow> m_window;
};

// Runs the test object with no cap on messages: OpenVPN without its device
// prints a line per packet, and the measurements come at the end.
int exec(QObject *test, int argc, char **argv);

} // namespace FaultLab

} // namespace Varnel
