#pragma once

#include <QByteArray>
#include <QString>

namespace Varnel {

class OpenConnectServer;

enum class PeerKey {
    Accepted,   // pinned now, or the pinned key
    Changed,    // another key than the pinned one: refused
    Refused,    // could not be checked: refused
};

// Trust on first use for servers whose certificate failed the normal
// checks: the first key seen for host:service is pinned in server; later the
// same key is accepted and any other key refused ("peer's key has changed!").
// der is the server's certificate.
PeerKey checkPeerKey(const QByteArray &der, const QString &host, const QString &service, OpenConnectServer &server);

} // namespace Varnel
