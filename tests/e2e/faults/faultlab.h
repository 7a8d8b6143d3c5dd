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

#include <memory>

namespace Varnel {

class ConnectPage;
class RootWindow;

// What the fault and leak tests share, inside the lab: the reference backend
// listing the lab's servers, the kill switch with the real scripts in a
// data directory of its own, and counters on the server side of the raw link.
namespace FaultLab {

// VARNEL_LAB_<key> as UTF-8, whatever the locale says.
QString labValue(const char *key);

// Server ids on the backend.
constexpr int kOcserv = 1;
constexpr int kOpenVpn = 2;

// An entry of the backend's server list: type 1 (OpenVPN) with the given
// configuration text (empty: the lab's template), or type 2 (OpenConnect).
QJsonObject server(int id, int type, const QString &address, const QByteArray &config = QByteArray());

// The lab's two servers and the lab's account on a reference backend
// started with them and the extra entries; false with a reason in error().
bool startBackend(RefBackendProcess &backend, const QJsonArray &extraServers, const QString &dataFile);

// The account the backend knows (the lab's, its password without blanks
// since the login page drops them).
QString user();
QString password();

// The real kill-switch scripts, installed by the packaging script into a
// private data directory (VARNELVPN_DATA_DIR points at it), letting through
// no tunnel group that exists.
class KillSwitch
{
public:
    bool install(QString *error);
    QString dataDir() const { return m_dir.path(); }
    // The block is in place (its table exists in this namespace).
    static bool blocking();
    // Lifts it by hand (tests tidy up with it).
    bool reset() const;

private:
    QTemporaryDir m_dir;
};

// Packets from the client namespace that reach the server namespace over
// the raw link, outside any tunnel: TCP, UDP, ICMP and DNS probes to the
// server's address (ports nothing serves), and anything sent to the target
// (reachable only through a tunnel).
class LeakCounter
{
public:
    enum Kind { Tcp, Udp, Icmp, Dns, Target };

    bool install(QString *error);
    void remove();
    qint64 count(Kind kind) const;
    qint64 total() const;

    // One probe of each kind (TCP, UDP, ICMP, DNS) to the server; returns
    // how many of them arrived.
    qint64 probe() const;
};

// Pings a host without pause (every intervalMs) until stopped; the
// server-side counters then tell how long traffic got through.
class Prober
{
public:
    Prober(const QStringList &arguments);
    ~Prober();
    void stop();

private:
    QProcess m_ping;
};

// The interval of the pings of a prober started with flood().
constexpr int kProbeIntervalMs = 5;
QStringList flood(const QString &host, const QString &device = QString());

// The window as at a start of the program with a logged-in user (an
// automatic login against the backend), driven through its connect page;
// message boxes are answered and kept.
class LoggedInWindow
{
public:
    LoggedInWindow();
    ~LoggedInWindow();
    // Logs in the lab's account; false with the reason in error.
    bool open(const RefBackendProcess &backend, QString *error);

    ConnectPage *connectPage() const;
    RootWindow *window() const { return m_window.get(); }
    // "Protected Now" or "Not Protected".
    QString protection() const;
    int pageStatus() const;
    // The texts of the message boxes since the last press.
    QStringList messages() const { return m_boxes.texts(); }

    // Makes the server the active one and presses the big button.
    void press(int serverId);
    // press(), then waits for the outcome on the page: Connected, or
    // Disconnected after Connecting. Returns the page's status.
    int attempt(int serverId, int timeoutMs = 30000);
    // Presses the button if a tunnel is up or coming, and waits until it
    // is down and nothing of it runs.
    bool disconnectAndSettle();
    // Switches the kill switch with its toggle on the settings page.
    bool setKillSwitch(bool on);

private:
    ClientSandbox m_sandbox;
    MessageCatcher m_boxes;
    std::unique_ptr<RootWindow> m_window;
};

// The process ids of every OpenVPN program running in this network
// namespace (the lab's server runs in another).
QList<qint64> openVpnProcessesHere();

// Name of the tunnel device up in this namespace ("tun0"), empty when none.
QString tunnelDevice();

// Runs the test object with no cap on messages: OpenVPN without its device
// prints a line per packet, and the measurements come at the end.
int exec(QObject *test, int argc, char **argv);

} // namespace FaultLab

} // namespace Varnel
