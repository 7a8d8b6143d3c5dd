#pragma once

#include "platform/serviceclient.h"
#include "vpn/tunnelfailure.h"

#include <QHostAddress>
#include <QObject>
#include <QString>

class QSocketNotifier;

namespace Varnel {

// The privileged side of one tunnel, in one place: the device the service
// makes for this attempt, held for the tunnel's life by a connection of its
// own. The service takes the end of that connection as the end of the
// tunnel, also when this process dies, and then removes the device, its
// routes and DNS (and holds the kill-switch block when it is on).
class TunnelLease : public QObject
{
    Q_OBJECT
public:
    struct Request {
        QString protocol;       // "openvpn" or "openconnect"
        QHostAddress endpoint;  // the VPN server
        quint16 port = 0;
        QString transport;      // "udp", "tcp" or "both"
        bool killSwitch = false;
    };

    using QObject::QObject;
    ~TunnelLease() override;

    // Asks the service for a device; false with why (the service is not
    // running, another user's tunnel is up, ...).
    bool open(const Request &request, TunnelFailure *failure, QString *detail);
    QString device() const { return m_device; }
    // Ends the tunnel at the service (bounded) and closes the connection.
    void close();

signals:
    // The service ended the tunnel by itself: it stopped, or the tunnel broke.
    void lost(Varnel::TunnelFailure failure, const QString &detail);

private:
    void onReadable();

    ServiceClient m_client;
    QSocketNotifier *m_watch = nullptr;
    QString m_device;
};

} // namespace Varnel
