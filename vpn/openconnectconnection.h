#pragma once

#include "platform/vpnplatform.h"
#include "vpn/authform.h"
#include "vpn/tunnelfailure.h"
#include "vpn/tunnelinfo.h"

#include <QFutureWatcher>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <atomic>
#include <memory>

struct openconnect_info;

namespace Varnel {

class OpenConnectServer;
class OpenConnectSession;
class OpenVpnRunner;

// The one object through which the program starts, watches and stops a VPN
// tunnel. Every screen observes statusChanged; the status field follows it
// one event-loop turn later, always on the GUI thread.
//
// Protocol 1 runs an external OpenVPN (OpenVpnRunner), protocol 2 an
// AnyConnect session of the OpenConnect library on a pool thread
// (OpenConnectSession), which is stopped only through its command channel.
class OpenConnectConnection : public QObject
{
    Q_OBJECT
public:
    enum Status { Disconnected, Connecting, Connected, Disconnecting };
    Q_ENUM(Status)

    enum ConnectResult {
        Started = 0,
        AlreadyActive = 1,      // a command channel is still open, or an OpenVPN runs
        AlreadyRunning = 2,     // OpenConnect: the previous session is finishing
        InvalidCredentials = 3, // empty user name or password
        InvalidServer = 4,      // empty gateway (OpenConnect) or configuration (OpenVPN)
        SetupFailed = 5,        // the library session or its command channel could not be made
    };
    Q_ENUM(ConnectResult)

    static constexpr int kOpenVpn = 1;
    static constexpr int kOpenConnect = 2;

    ~OpenConnectConnection() override;

    static std::shared_ptr<OpenConnectConnection> instance();

    // GnuTLS global set-up, then the OpenConnect library's SSL set-up; once
    // per process before any session. False (and a log line) on failure.
    static bool initTls();

    void setUsername(const QString &username) { m_username = username; }
    QString username() const { return m_username; }
    void setPassword(const QString &password) { m_password = password; }
    QString password() const { return m_password; }

    void setProtocol(int protocol) { m_protocol = protocol; }
    int protocol() const { return m_protocol; }

    std::shared_ptr<OpenConnectServer> server() const { return m_profile; }
    void setServer(const std::shared_ptr<OpenConnectServer> &profile) { m_profile = profile; }

    // The OpenVPN configuration for address ("host:port") from the
    // backend's Base64 template.
    void setOpenVpnConfig(const QString &encodedConfig, const QString &address);
    QString openVpnConfig() const { return m_openVpnConfig; }

    Status status() const { return m_status; }
    // True while an OpenConnect session's thread still runs (it winds down
    // for a moment after Disconnected); connect() refuses meanwhile.
    bool isSessionRunning() const { return m_watcher.isRunning(); }
    // Last error of the OpenConnect session (set by the session thread).
    QString lastError() const;
    // Addresses and ciphers of the current or last OpenConnect tunnel.
    TunnelInfo tunnelInfo() const;

    // Starts a tunnel with the stored protocol; returns a ConnectResult.
    ConnectResult connect();
    // Stops whatever is running.
    void disconnect();
    // Asks the OpenConnect session for fresh byte counts (statsChanged
    // follows); 0 on success, -1 without a session or on a channel error.
    int update_stats();

    // How often a tunnel that is up is checked for its device: one that was
    // removed carries nothing, and its routes are gone with it.
    static constexpr int kDeviceCheckMs = 1000;

signals:
    void statusChanged(OpenConnectConnection::Status status);
    // Cumulative bytes sent and received through the tunnel this session.
    void statsChanged(quint64 tx, quint64 rx);
    // An attempt or a tunnel ended without being asked to; emitted just
    // before its Disconnected, from the same thread.
    void failed(Varnel::TunnelFailure failure, const QString &detail);

private:
    friend class OpenConnectSession;

    OpenConnectConnection();

    void storeStatus(OpenConnectConnection::Status status);
    ConnectResult connectOpenConnect();
    ConnectResult connectOpenVpn();
    void disconnectOpenConnect();
    void disconnectOpenVpn();
    // Frees the library session once its thread has finished with it.
    void releaseSession();
    // Stops the tunnel before the application (and the thread pool) goes.
    void shutDown();

    // Called by the session thread as its last act.
    void reportSessionEnd();
    // Written by the session thread, read by the GUI thread.
    void setLastError(const QString &text);
    void setTunnelInfo(const TunnelInfo &info);
    void setTunnelDevice(const QString &name);
    // The first failure of the running OpenConnect session wins.
    void noteSessionFailure(TunnelFailure failure, const QString &detail = QString());
    bool stopRequested() const { return m_sessionState == SessionStopping; }

    // The device of the tunnel that is up; a removed one ends the session.
    void checkTunnelDevice();
    QString tunnelDevice() const;

    QString m_username;
    QString m_password;
    std::shared_ptr<OpenConnectServer> m_profile;
    CommandSocket m_commandSocket = kInvalidCommandSocket;
    QFutureWatcher<void> m_watcher;
    Status m_status = Disconnected;
    QString m_openVpnConfig;
    int m_protocol = 0;
    // The runner deletes itself when its process ends.
    QPointer<OpenVpnRunner> m_runner;
    openconnect_info *m_session = nullptr;

    // What the session thread works with, fixed at connect() so that the GUI
    // thread may change the fields above meanwhile.
    AuthFormInput m_sessionInput;
    std::shared_ptr<OpenConnectServer> m_sessionProfile;
    AuthFormState m_formState;
    // Who ends the session: the session thread marks its own end, the GUI
    // thread a requested stop; whoever comes first decides what is reported.
    enum SessionState { SessionRunning, SessionStopping, SessionEnded };
    std::atomic<int> m_sessionState {SessionEnded};

    mutable QMutex m_resultLock;
    QString m_lastError;
    TunnelInfo m_tunnelInfo;
    TunnelFailure m_sessionFailure = TunnelFailure::None;
    QString m_sessionFailureDetail;

    QTimer m_deviceCheck;
    QString m_watchedDevice;
    int m_watchedIndex = 0;
};

} // namespace Varnel
