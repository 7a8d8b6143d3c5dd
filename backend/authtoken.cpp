#include "backend/authtoken.h"

#include "backend/formencoding.h"
#include "common/crypto.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QUrlQuery>

namespace Varnel {

namespace {

constexpr qint64 kTokenLifetimeMs = 30 * 60 * 1000;

QUrl tokenUrl(const QUrl &address, const QString &key, bool keepQuery)
{
    const QString token = authToken(vpnCredentials(), QSysInfo::machineUniqueId(),
                                    QDateTime::currentMSecsSinceEpoch(), key);
    return withAuthToken(address, token, keepQuery);
}

} // namespace

QString authToken(const VpnCredentials &credentials, const QByteArray &udid, qint64 nowMs,
                  const QString &key)
{
    const QJsonObject payload{
        {QStringLiteral("ttl"), QString::number(nowMs + kTokenLifetimeMs)},
        {QStringLiteral("username"), credentials.username},
        {QStringLiteral("password"), credentials.password},
        {QStringLiteral("udid"), QString::fromLatin1(udid)},
    };
    // QJsonDocument writes the members in key order.
    const QByteArray json = QJsonDocument(payload).toJson(QJsonDocument::Compact);
    return encipher(QString::fromUtf8(json), key);
}

QUrl withAuthToken(const QUrl &address, const QString &token, bool keepQuery)
{
    QUrlQuery query = keepQuery ? QUrlQuery(address) : QUrlQuery();
    addFormItem(query, QStringLiteral("authToken"), token);
    QUrl url(address);
    url.setQuery(query);
    return url;
}

QUrl webPageUrl(const QString &address, const QString &key)
{
    return tokenUrl(QUrl(address), key, true);
}

QUrl checkoutUrl(const QString &portalUrl, const QString &packageId, const QString &key)
{
    return tokenUrl(QUrl(portalUrl + QLatin1String("/checkout/") + packageId), key, false);
}

} // namespace Varnel
