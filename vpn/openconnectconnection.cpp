#include "vpn/openconnectconnection.h"

#include "common/logger.h"

#include <gnutls/gnutls.h>
#include <openconnect.h>

namespace Varnel {

std::shared_ptr<OpenConnectConnection> OpenConnectConnection::instance()
{
    // Not make_shared: the constructor is private.
    static std::shared_ptr<OpenConnectConnection> connection(new OpenConnectConnection);
    return connection;
}

OpenConnectConnection::OpenConnectConnection()
{
    // Queued, because the session thread emits too: the field is then only
    // ever written on the thread that owns the controller.
    connect(this, &OpenConnectConnection::statusChanged, this,
            &OpenConnectConnection::storeStatus, Qt::QueuedConnection);
}

void OpenConnectConnection::storeStatus(OpenConnectConnection::Status status)
{
    m_status = status;
}

bool OpenConnectConnection::initTls()
{
    const int tls = gnutls_global_init();
    if (tls < 0) {
        Logger::instance().log(QStringLiteral("GnuTLS initialisation failed: %1")
                                   .arg(QString::fromUtf8(gnutls_strerror(tls))),
                               1, 4);
        return false;
    }
    const int ssl = openconnect_init_ssl();
    if (ssl != 0) {
        Logger::instance().log(QStringLiteral("OpenConnect SSL initialisation failed: %1").arg(ssl), 1, 4);
        return false;
    }
    return true;
}

} // namespace Varnel
