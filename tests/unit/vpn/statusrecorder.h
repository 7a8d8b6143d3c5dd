#pragma once

#include "vpn/openconnectconnection.h"

#include <QList>
#include <QObject>
#include <QPair>

namespace Varnel {

// Records the controller's signals the way every screen receives them:
// queued, on the thread the recorder lives on. (A QSignalSpy would record
// the session thread's emissions on that thread, as they happen.)
class StatusRecorder : public QObject
{
public:
    using Status = OpenConnectConnection::Status;

    explicit StatusRecorder(OpenConnectConnection *controller)
    {
        connect(controller, &OpenConnectConnection::statusChanged, this,
                [this](Status status) { statuses << status; }, Qt::QueuedConnection);
        connect(controller, &OpenConnectConnection::statsChanged, this,
                [this](quint64 tx, quint64 rx) { stats << qMakePair(tx, rx); }, Qt::QueuedConnection);
        connect(controller, &OpenConnectConnection::failed, this,
                [this](TunnelFailure failure, const QString &detail) {
                    failures << qMakePair(statuses.size(), failure);
                    details << detail;
                },
                Qt::QueuedConnection);
    }

    Status last() const { return statuses.isEmpty() ? Status(-1) : statuses.last(); }
    int count(Status status) const { return statuses.count(status); }

    QList<Status> statuses;
    QList<QPair<quint64, quint64>> stats;  // (tx, rx)
    // Each failure with the number of statuses received before it.
    QList<QPair<int, TunnelFailure>> failures;
    QStringList details;
};

} // namespace Varnel
