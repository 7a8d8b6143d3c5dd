#pragma once

#include "clientsandbox.h"
#include "refbackendprocess.h"

#include <QString>
#include <QStringList>

// Shared by the backend-client tests: an address where nothing listens, and
// readers of a request as the reference backend recorded it.
quint16 closedLoopbackPort();
QString closedBase();

// The names of a form as the server received it, in order.
QStringList formNames(const QJsonObject &request);
QString formValue(const QJsonObject &request, const QString &name);
