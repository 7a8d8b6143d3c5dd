#pragma once

#include <QString>

namespace Varnel {

// The account's VPN user name and password as held by the connection engine
// after login. The voucher, referral and device operations and the authToken
// of web pages read them here, so this is the one place that knows where the
// engine keeps them.
struct VpnCredentials {
    QString username;
    QString password;
};

VpnCredentials vpnCredentials();
void setVpnCredentials(const QString &username, const QString &password);

} // namespace Varnel
