#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QString>

namespace Varnel {

// Hash of a server's public key as pinned on first use: a GnuTLS digest
// identifier (0 = nothing pinned) and the digest bytes.
struct KeyPin {
    int algorithm = 0;
    QByteArray hash;
};

// The OpenConnect server to connect to, shared between the controller and
// the session callbacks. Created on the first connect and kept for the life
// of the process; later connects replace only the gateway, so the pins of
// every gateway seen so far stay (in memory only).
class OpenConnectServer
{
public:
    explicit OpenConnectServer(const QString &gateway = QString());

    QString gateway;    // handed to the library's URL parser
    QString groupName;  // authentication group to pick among several
    QString protocol;   // OpenConnect protocol name ("anyconnect")

    // One pin per gateway (host and port): a key seen on one server says
    // nothing about another. Thread-safe: the session thread pins.
    KeyPin pin(const QString &gatewayKey) const;
    void setPin(const QString &gatewayKey, const KeyPin &pin);

private:
    mutable QMutex m_pinLock;
    QHash<QString, KeyPin> m_pins;
};

} // namespace Varnel
