#pragma once

#include "vpn/openconnectconnection.h"
#include "vpn/tunnelfailure.h"

#include <QObject>
#include <QString>

namespace Varnel {

// One tunnel protocol as the controller sees it: an attempt and the tunnel
// it makes, on a device the service made for it. The controller starts,
// stops and watches every protocol through this alone. A tunnel reports its
// end once (statusChanged(Disconnected), with failed() just before when it
// ended without being asked to) and deletes itself once everything it held
// is released; a protocol may emit from a thread of its own.
class Tunnel : public QObject
{
    Q_OBJECT
public:
    using Status = OpenConnectConnection::Status;

    using QObject::QObject;

    // Starts the attempt on device. Whatever happens, the outcome comes
    // through the signals.
    virtual void start(const QString &device) = 0;
    // Ends the attempt or tunnel as asked by the user.
    virtual void stop() = 0;
    // Ends it as failed; the first failure named is the one reported.
    virtual void stopFailed(TunnelFailure failure, const QString &detail) = 0;
    // The device it was started on.
    virtual QString device() const = 0;
    // What the controller's connect() must answer while this tunnel exists:
    // Started when a new attempt may begin beside it.
    virtual OpenConnectConnection::ConnectResult busy() const = 0;
    // Asks for fresh byte counts (statsChanged follows); 0 on success, -1
    // when the protocol reports them by itself or the channel failed.
    virtual int requestStatistics() = 0;

signals:
    void statusChanged(OpenConnectConnection::Status status);
    void statsChanged(quint64 tx, quint64 rx);
    void failed(Varnel::TunnelFailure failure, const QString &detail);
};

} // namespace Varnel
