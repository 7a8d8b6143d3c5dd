#include "backend/vpncredentials.h"

namespace Varnel {

namespace {

// Held here until the connection engine offers its credential accessors;
// then both functions forward to it.
VpnCredentials &held()
{
    static VpnCredentials credentials;
    return credentials;
}

} // namespace

VpnCredentials vpnCredentials()
{
    return held();
}

void setVpnCredentials(const QString &username, const QString &password)
{
    held() = VpnCredentials{username, password};
}

} // namespace Varnel
