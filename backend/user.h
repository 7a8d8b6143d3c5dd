#pragma once

#include "backend/ipbundle.h"

#include <QDate>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <memory>

namespace Varnel {

// The account record of the session: plan, expiry, banners, payment-page
// data and the server list. One per process, filled by login and by the
// endpoint, referral and device operations. GUI thread only.
class User
{
    struct Token {};   // only instance() creates the record

public:
    explicit User(Token) {}
    User(const User &) = delete;
    User &operator=(const User &) = delete;

    static std::shared_ptr<User> instance();

    // Overwrites the fields the login reply carries and replaces the server
    // list; absent members give empty strings, 0 or empty arrays.
    void setFromLoginReply(const QJsonObject &reply);

    // Display name of the plan: "Scratch Card", "Premium" or "Free".
    QString planName() const;
    // Scratch card or premium: a plan with an expiry date.
    bool hasPaidPlan() const { return m_userType == 1 || m_userType == 2; }

    // The entry whose ipId is the active server of the settings (the last of
    // several), else the first entry; null only for an empty list.
    std::shared_ptr<IPBundle> activeBundle() const;

    int expireInDays() const { return m_expireInDays; }
    void setExpireInDays(int v) { m_expireInDays = v; }
    QDate validityDate() const { return m_validityDate; }
    void setValidityDate(const QDate &v) { m_validityDate = v; }
    int userType() const { return m_userType; }
    void setUserType(int v) { m_userType = v; }
    int showBanner() const { return m_showBanner; }
    void setShowBanner(int v) { m_showBanner = v; }
    int showFullScreen() const { return m_showFullScreen; }
    void setShowFullScreen(int v) { m_showFullScreen = v; }
    int userStatus() const { return m_userStatus; }
    void setUserStatus(int v) { m_userStatus = v; }
    QString serverIp() const { return m_serverIp; }
    void setServerIp(const QString &v) { m_serverIp = v; }
    QString serverIpDu() const { return m_serverIpDu; }
    void setServerIpDu(const QString &v) { m_serverIpDu = v; }
    int freeMinutes() const { return m_freeMinutes; }
    void setFreeMinutes(int v) { m_freeMinutes = v; }
    QString contactEmail() const { return m_contactEmail; }
    void setContactEmail(const QString &v) { m_contactEmail = v; }
    // A copy of the list; the records themselves are shared.
    IPBundleList bundles() const { return m_bundles; }
    void setBundles(const IPBundleList &v) { m_bundles = v; }
    QString featuresImgUrl() const { return m_featuresImgUrl; }
    void setFeaturesImgUrl(const QString &v) { m_featuresImgUrl = v; }
    QString decisionData() const { return m_decisionData; }
    void setDecisionData(const QString &v) { m_decisionData = v; }
    QJsonArray cardPaymentPackages() const { return m_cardPaymentPackages; }
    void setCardPaymentPackages(const QJsonArray &v) { m_cardPaymentPackages = v; }
    QString webPaymentPortalUrl() const { return m_webPaymentPortalUrl; }
    void setWebPaymentPortalUrl(const QString &v) { m_webPaymentPortalUrl = v; }
    QString featuresHref() const { return m_featuresHref; }
    void setFeaturesHref(const QString &v) { m_featuresHref = v; }
    QJsonArray loggedDevices() const { return m_loggedDevices; }
    void setLoggedDevices(const QJsonArray &v) { m_loggedDevices = v; }
    QJsonObject referInfo() const { return m_referInfo; }
    void setReferInfo(const QJsonObject &v) { m_referInfo = v; }
    QString homeImageUrl() const { return m_homeImageUrl; }
    void setHomeImageUrl(const QString &v) { m_homeImageUrl = v; }
    QString homeImageClickUrl() const { return m_homeImageClickUrl; }
    void setHomeImageClickUrl(const QString &v) { m_homeImageClickUrl = v; }
    QString referCode() const { return m_referCode; }
    void setReferCode(const QString &v) { m_referCode = v; }

private:
    int m_expireInDays = 0;
    QDate m_validityDate;
    int m_userType = 0;
    int m_showBanner = 0;
    int m_showFullScreen = 0;
    int m_userStatus = 0;
    QString m_serverIp;
    QString m_serverIpDu;
    int m_freeMinutes = 0;
    QString m_contactEmail;
    IPBundleList m_bundles;
    QString m_featuresImgUrl;
    QString m_decisionData;
    QJsonArray m_cardPaymentPackages;
    QString m_webPaymentPortalUrl;
    QString m_featuresHref;
    QJsonArray m_loggedDevices;
    QJsonObject m_referInfo;
    QString m_homeImageUrl;
    QString m_homeImageClickUrl;
    QString m_referCode;
};

} // namespace Varnel
