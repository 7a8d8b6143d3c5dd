#pragma once

#include "platform/vpnplatform.h"
#include "vpn/authform.h"
#include "vpn/tunnelfailure.h"
#include "vpn/tunnelinfo.h"
#include "vpn/tunnellease.h"

#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>

namespace Varnel {

class OpenConnectServer;
class OpenConnectSession;
class Tunnel;

// The one object through which the program starts, watches and stops a VPN
// tunnel. Every screen observes statusChanged; the status field follows it
// one event-loop turn later, always on the GUI thread.
//
// Protocol 1 runs an external OpenVPN (OpenVpnRunner), protocol 2 an
// AnyConnect session of the OpenConnect library on a pool thread
// (OpenConnectSession), which is stopped only through its command channel.
// Both sit behind Tunnel and run as the user: the device, its routes and
// DNS and the kill switch are the privileged service's (TunnelLease).
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
    // True while an OpenConnect session exists: its thread runs, or it still
    // holds its library session (it winds down for a moment after
    // Disconnected). Once false, everything the session held is released.
    bool isSessionRunning() const;
    // Last error of the OpenConnect session (set by the session thread).
    QString lastError() const;
    // The device of the tunnel that is up or being made, else empty.
    QString tunnelDevice() const;
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
    // The protocol of m_protocol for this attempt, or nothing (a result code
    // says why); the one place that tells the protocols apart.
    Tunnel *makeTunnel(ConnectResult *refusal);
    // What the service needs to know to make the device and let the server
    // through a kill-switch block; false (with why) when the server's
    // address cannot be known.
    bool leaseRequest(TunnelLease::Request *request, QString *error) const;
    // Ends the attempt before it began: failed(), then Disconnected.
    void refuse(TunnelFailure failure, const QString &detail);
    // The tunnel has let go of everything: its device and routes go at the
    // service.
    void releaseLease(const TunnelLease *lease);
    // Stops the tunnel before the application (and the thread pool) goes.
    void shutDown();

    // Written by the session thread, read by the GUI thread.
    void setLastError(const QString &text);
    void setTunnelInfo(const TunnelInfo &info);

    // The device of the tunnel that is up; a removed one ends the tunnel.
    void checkTunnelDevice();

    QString m_username;
    QString m_password;
    std::shared_ptr<OpenConnectServer> m_profile;
    Status m_status = Disconnected;
    QString m_openVpnConfig;
    QString m_openVpnAddress;
    int m_protocol = 0;
    // The tunnel of the latest attempt; it deletes itself once it has ended
    // and released what it held.
    QPointer<Tunnel> m_tunnel;
    std::unique_ptr<TunnelLease> m_lease;
    // The form filler's memory outlives a session (the group choice).
    AuthFormState m_formState;

    mutable QMutex m_resultLock;
    QString m_lastError;
    TunnelInfo m_tunnelInfo;

    QTimer m_deviceCheck;
    QString m_watchedDevice;
    int m_watchedIndex = 0;
};

} // namespace Varnel
