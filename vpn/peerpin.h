#pragma once

#include <QByteArray>
#include <QString>

namespace Varnel {

class OpenConnectServer;

// Trust on first use for servers whose certificate failed the normal
// checks: the first key seen for host:service is pinned in server; later the
// same key is accepted and any other key refused ("peer's key has changed!").
// der is the server's certificate. Returns 0 to accept and -1 to refuse.
int checkPeerKey(const QByteArray &der, const QString &host, const QString &service, OpenConnectServer &server);

} // namespace Varnel
