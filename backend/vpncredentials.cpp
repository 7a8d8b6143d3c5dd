#include "backend/vpncredentials.h"

#include "vpn/openconnectconnection.h"

namespace Varnel {

VpnCredentials vpnCredentials()
{
    const auto engine = OpenConnectConnection::instance();
    return VpnCredentials{engine->username(), engine->password()};
}

void setVpnCredentials(const QString &username, const QString &password)
{
    const auto engine = OpenConnectConnection::instance();
    engine->setUsername(username);
    engine->setPassword(password);
}

} // namespace Varnel
