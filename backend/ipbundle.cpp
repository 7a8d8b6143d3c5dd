#include "backend/ipbundle.h"

#include "backend/jsonfields.h"

#include <QJsonArray>
#include <QSet>

namespace Varnel {

namespace {

using namespace JsonFields;

bool kept(const IPBundle &b)
{
    return b.type() == 1 || (b.type() == 2 && b.connectionType() == 1);
}

// Entries repeat most of their texts (country, type, site, the OpenVPN
// template in config); equal texts of one list share one string instead of
// a copy per entry. Addresses and names differ per entry and are left alone.
class TextPool
{
public:
    QString shared(const QString &text)
    {
        const auto it = m_texts.constFind(text);
        if (it != m_texts.cend())
            return *it;
        m_texts.insert(text);
        return text;
    }

    void share(IPBundle &b)
    {
        b.setBundleName(shared(b.bundleName()));
        b.setNote(shared(b.note()));
        b.setConfig(shared(b.config()));
        b.setTypeTxt(shared(b.typeTxt()));
        b.setSite(shared(b.site()));
        b.setPlatform(shared(b.platform()));
        b.setCountryName(shared(b.countryName()));
    }

private:
    QSet<QString> m_texts;
};

} // namespace

std::shared_ptr<IPBundle> IPBundle::fromJson(const QJsonObject &e)
{
    auto b = std::make_shared<IPBundle>();
    b->m_bundleName = text(e, "bundleName");
    b->m_ipName = text(e, "ipName");
    b->m_ip = text(e, "ip");
    b->m_isFastServer = number(e, "is_fast_server");
    b->m_isGaming = number(e, "is_gaming");
    b->m_isOnlineStream = number(e, "is_online_stream");
    b->m_isAdblocker = number(e, "is_adblocker");
    b->m_note = text(e, "note");
    b->m_network = number(e, "network");
    b->m_config = text(e, "config");
    b->m_typeTxt = text(e, "typeTxt");
    b->m_type = number(e, "type");
    b->m_priority = number(e, "priority");
    b->m_countryCode = decimalText(e, "countryCode");
    b->m_vpnServerId = number(e, "vpn_server_id");
    b->m_connectionType = number(e, "connection_type");
    b->m_sslIp = text(e, "ssl_ip");
    b->m_ipId = number(e, "ip_id");
    b->m_site = text(e, "site");
    b->m_platform = text(e, "platform");
    b->m_countryName = text(e, "countryName");
    return b;
}

IPBundleList bundlesFromReply(const QJsonObject &reply)
{
    const QJsonArray entries = reply.value(QLatin1String("ip_bundle")).toArray();
    IPBundleList list;
    list.reserve(entries.size());
    TextPool pool;
    for (const QJsonValue &entry : entries) {
        std::shared_ptr<IPBundle> bundle = IPBundle::fromJson(entry.toObject());
        if (kept(*bundle)) {
            pool.share(*bundle);
            list.append(std::move(bundle));
        }
    }
    return list;
}

} // namespace Varnel
