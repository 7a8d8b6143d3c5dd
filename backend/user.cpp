#include "backend/user.h"

#include "backend/jsonfields.h"

#include "common/config.h"

#include <QLocale>
#include <QObject>

namespace Varnel {

namespace {

using namespace JsonFields;

// The backend writes the day with one or two digits ("5-Jan-2026") and the
// month in English, whatever the language of this computer.
QDate validity(const QString &value)
{
    const QLocale english = QLocale::c();
    const QDate date = english.toDate(value, QStringLiteral("dd-MMM-yyyy"));
    return date.isValid() ? date : english.toDate(value, QStringLiteral("d-MMM-yyyy"));
}

} // namespace

std::shared_ptr<User> User::instance()
{
    static const std::shared_ptr<User> user = std::make_shared<User>(Token{});
    return user;
}

void User::setFromLoginReply(const QJsonObject &reply)
{
    m_expireInDays = number(reply, "expire_in_days");
    m_userType = number(reply, "user_type");
    m_showBanner = number(reply, "show_banner");
    m_showFullScreen = number(reply, "show_full_screen");
    // These two arrive as digit strings; a JSON number reads as 0.
    m_userStatus = decimalText(reply, "user_status");
    m_freeMinutes = decimalText(reply, "free_minutes");
    m_serverIp = text(reply, "server_ip");
    m_serverIpDu = text(reply, "server_ip_du");
    m_contactEmail = text(reply, "contact_email");
    m_validityDate = validity(text(reply, "validity_date"));

    const QJsonObject payment = member(reply, "in_app_payment_page_data");
    const QJsonObject features = member(payment, "features_img_block");
    m_featuresImgUrl = text(features, "img_url");
    m_featuresHref = text(features, "href_com");
    m_cardPaymentPackages = payment.value(QLatin1String("card_payment_packages")).toArray();
    m_webPaymentPortalUrl = text(payment, "web_payment_portal_url");

    const QJsonObject banner = member(reply, "banner_data");
    m_homeImageUrl = text(banner, "app_home_img");
    m_homeImageClickUrl = text(banner, "onclick_url");

    m_bundles = bundlesFromReply(reply);
}

QString User::planName() const
{
    switch (m_userType) {
    case 1:
        return QObject::tr("Scratch Card");
    case 2:
        return QObject::tr("Premium");
    default:
        return QObject::tr("Free");
    }
}

std::shared_ptr<IPBundle> User::activeBundle() const
{
    if (m_bundles.isEmpty())
        return nullptr;
    const int active = Config::instance()->activeServer();
    for (auto it = m_bundles.crbegin(); it != m_bundles.crend(); ++it) {
        if ((*it)->ipId() == active)
            return *it;
    }
    return m_bundles.first();
}

} // namespace Varnel
