#pragma once

#include "dataset.h"

#include <QJsonArray>

namespace Varnel::RefBackend {

// The "ip_bundle" array as each plan sees it. Both variants are built once: the list never
// changes while the server runs, and a 5,000-entry list is too large to rebuild per login.
class ServerList
{
public:
    static constexpr char kLockedIp[] = "8.8.8.8";

    explicit ServerList(const Catalogue &catalogue);

    // Free plans get premium entries locked; paid plans get every entry open.
    const QJsonArray &forPlan(Plan plan) const;
    int size() const { return open_.size(); }

private:
    QJsonArray open_;
    QJsonArray locked_;
};

} // namespace Varnel::RefBackend
