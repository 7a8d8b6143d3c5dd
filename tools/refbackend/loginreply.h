#pragma once

#include "dataset.h"
#include "serverlist.h"

#include <QJsonObject>

namespace Varnel::RefBackend {

// The members of a successful login reply: plan, expiry, banners, payment-page data and the
// server list, with every web address pointing at this server.
class LoginReply
{
public:
    LoginReply(const Catalogue &catalogue, const ServerList &servers, const QString &baseUrl);

    QJsonObject build(const Account &account, const QDate &today) const;

private:
    const Catalogue &catalogue_;
    const ServerList &servers_;
    const QString baseUrl_;
};

} // namespace Varnel::RefBackend
