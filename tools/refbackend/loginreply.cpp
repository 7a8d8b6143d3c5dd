#include "loginreply.h"

#include "webpages.h"

#include <QJsonArray>

namespace Varnel::RefBackend {

LoginReply::LoginReply(const Catalogue &catalogue, const ServerList &servers, const QString &baseUrl)
    : catalogue_(catalogue)
    , servers_(servers)
    , baseUrl_(baseUrl)
{
}

QJsonObject LoginReply::build(const Account &account, const QDate &today) const
{
    const Plan plan = account.effectivePlan(today);
    const bool free = plan == Plan::Free;
    const QJsonArray &servers = servers_.forPlan(plan);
    const QString firstIp = servers.isEmpty() ? QString()
                                              : servers.first().toObject().value(QLatin1String("ip")).toString();

    const QJsonObject features{{QStringLiteral("img_url"), baseUrl_ + QLatin1String(WebPages::kFeaturesImagePath)},
                               {QStringLiteral("href_com"), baseUrl_ + QLatin1String(WebPages::kFeaturesPath)
                                                                + QStringLiteral("?src=app")}};
    const QJsonObject payment{{QStringLiteral("features_img_block"), features},
                              {QStringLiteral("card_payment_packages"), catalogue_.packages},
                              {QStringLiteral("web_payment_portal_url"), baseUrl_}};
    const QJsonObject banner{{QStringLiteral("app_home_img"), baseUrl_ + QLatin1String(WebPages::kBannerImagePath)},
                             {QStringLiteral("onclick_url"), baseUrl_ + QLatin1String(WebPages::kOfferPath)
                                                                 + QStringLiteral("?campaign=home")}};

    QJsonObject reply{
        {QStringLiteral("response_code"), 1},
        {QStringLiteral("message"), QStringLiteral("Login successful.")},
        {QStringLiteral("user_type"), int(plan)},
        {QStringLiteral("expire_in_days"), account.daysLeft(today)},
        {QStringLiteral("validity_date"), replyDate(account.validUntil)},
        {QStringLiteral("show_banner"), free ? 1 : 0},
        {QStringLiteral("show_full_screen"), free ? 1 : 0},
        {QStringLiteral("user_status"), QStringLiteral("1")},
        {QStringLiteral("server_ip"), account.serverIp.isEmpty() ? firstIp : account.serverIp},
        {QStringLiteral("server_ip_du"), account.serverIpDu},
        {QStringLiteral("free_minutes"), free ? QStringLiteral("30") : QStringLiteral("0")},
        {QStringLiteral("contact_email"), account.email.isEmpty() ? catalogue_.contactEmail : account.email},
        {QStringLiteral("ip_bundle"), servers},
        {QStringLiteral("in_app_payment_page_data"), payment},
        {QStringLiteral("banner_data"), banner},
    };
    for (auto it = account.replyOverrides.constBegin(); it != account.replyOverrides.constEnd(); ++it)
        reply.insert(it.key(), it.value());
    return reply;
}

} // namespace Varnel::RefBackend
