#include "serverlist.h"

#include <QJsonObject>

namespace Varnel::RefBackend {

namespace {

const QString kPremium = QStringLiteral("premium");
const QString kConfig = QStringLiteral("config");

// OpenVPN entries without their own configuration get the template, pointed at their host.
QJsonObject withConfig(QJsonObject entry, const QString &configTemplate)
{
    if (entry.contains(kConfig) || entry.value(QLatin1String("type")).toInt() != 1)
        return entry;
    const QString host = entry.value(QLatin1String("ip")).toString().section(QLatin1Char(':'), 0, 0);
    entry.insert(kConfig, QString(configTemplate).replace(QLatin1String("{ip}"), host));
    return entry;
}

// A locked entry keeps its place and labels but gives away no address or configuration.
QJsonObject locked(QJsonObject entry)
{
    const QString lockedIp = QString::fromLatin1(ServerList::kLockedIp);
    entry.insert(QStringLiteral("ip"), lockedIp);
    entry.insert(QStringLiteral("ssl_ip"), lockedIp);
    entry.insert(kConfig, QString());
    return entry;
}

} // namespace

ServerList::ServerList(const Catalogue &catalogue)
{
    for (const QJsonValue &value : catalogue.servers) {
        QJsonObject entry = withConfig(value.toObject(), catalogue.openVpnTemplate);
        const bool premium = entry.value(kPremium).toBool();
        entry.remove(kPremium);
        open_.append(entry);
        locked_.append(premium ? locked(entry) : entry);
    }
}

const QJsonArray &ServerList::forPlan(Plan plan) const
{
    return plan == Plan::Free ? locked_ : open_;
}

} // namespace Varnel::RefBackend
