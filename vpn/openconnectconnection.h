#pragma once

#include <QObject>

#include <memory>

namespace Varnel {

// The one object through which the program starts, watches and stops a VPN
// tunnel. Every screen observes statusChanged; the status field follows it
// one event-loop turn later, always on the GUI thread.
class OpenConnectConnection : public QObject
{
    Q_OBJECT
public:
    enum Status { Disconnected, Connecting, Connected, Disconnecting };
    Q_ENUM(Status)

    static std::shared_ptr<OpenConnectConnection> instance();

    // GnuTLS global set-up, then the OpenConnect library's SSL set-up; once
    // per process before any session. False (and a log line) on failure.
    static bool initTls();

    Status status() const { return m_status; }

signals:
    void statusChanged(OpenConnectConnection::Status status);
    // Cumulative bytes sent and received through the tunnel this session.
    void statsChanged(quint64 tx, quint64 rx);

private:
    OpenConnectConnection();

    void storeStatus(OpenConnectConnection::Status status);

    Status m_status = Disconnected;
};

} // namespace Varnel
