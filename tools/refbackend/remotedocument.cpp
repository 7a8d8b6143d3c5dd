#include "remotedocument.h"

#include "routes.h"
#include "webpages.h"

#include "common/crypto.h"

namespace Varnel::RefBackend {

namespace {

QJsonObject stringValue(const QString &value)
{
    return QJsonObject{{QStringLiteral("stringValue"), value}};
}

} // namespace

QJsonObject RemoteDocument::build(const QString &baseUrl, const QString &decisionData)
{
    const QString key = QLatin1String(kEndpointKey);
    const auto enciphered = [&](const char *path) { return stringValue(encipher(baseUrl + QLatin1String(path), key)); };
    const auto plain = [&](const char *path) { return stringValue(baseUrl + QLatin1String(path)); };

    const QJsonObject fields{
        {QStringLiteral("app_id"), enciphered(Routes::kLogin)},
        {QStringLiteral("signup"), enciphered(Routes::kSignUp)},
        {QStringLiteral("forgot_url"), plain(Routes::kForgotPassword)},
        {QStringLiteral("pricing_online"), plain(WebPages::kPricingPath)},
        {QStringLiteral("free_vs_paid"), stringValue(encipher(decisionData, key))},
        {QStringLiteral("loggedDevice"), enciphered(Routes::kLoggedDevices)},
        {QStringLiteral("email_subs_url"), enciphered(Routes::kSubscribe)},
        {QStringLiteral("redeem_voucher"), enciphered(Routes::kRedeemVoucher)},
        {QStringLiteral("RererURL"), enciphered(Routes::kRefer)},
        {QStringLiteral("RererInfo"), enciphered(Routes::kReferInfo)},
    };
    const QString stamp = QStringLiteral("2024-01-01T00:00:00.000000Z");
    return QJsonObject{{QStringLiteral("name"),
                        QStringLiteral("projects/varnel-reference/databases/(default)/documents/data/windows")},
                       {QStringLiteral("fields"), fields},
                       {QStringLiteral("createTime"), stamp},
                       {QStringLiteral("updateTime"), stamp}};
}

} // namespace Varnel::RefBackend
