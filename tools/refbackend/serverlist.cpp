#include "serverlist.h"

#include <QJsonObject>

namespace Varnel::RefBackend {

namespace {

const QString kPremium = QStringLiteral("premium");
const QString kConfig = QStringLiteral("config");

// OpenVPN entries reach the client as it expects them: "ip" is host:port, and "config" is the
// Base64 of a template whose "remoteIP" and "remotePort" the client fills from that address.
// Entries with a configuration of their own keep it.
QJsonObject withConfig(QJsonObject entry, const QString &configTemplate)
{
    if (entry.value(QLatin1String("type")).toInt() != 1)
        return entry;
    const QString ip = entry.value(QLatin1String("ip")).toString();
    if (!ip.contains(QLatin1Char(':')))
        entry.insert(QStringLiteral("ip"), ip + QStringLiteral(":1194"));
    if (!entry.contains(kConfig))
        entry.insert(kConfig, QString::fromLatin1(configTemplate.toUtf8().toBase64()));
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
