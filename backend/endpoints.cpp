#include "backend/endpoints.h"

#include "common/crypto.h"

#include <QDebug>
#include <QSettings>

namespace Varnel {

namespace {

struct Entry {
    const char *settingsKey;
    const char *remoteField;
    bool enciphered;
    QString EndpointTable::*value;
};

// In the order the keys are written.
const Entry kEntries[] = {
    {"loginUrl", "app_id", true, &EndpointTable::login},
    {"signupUrl", "signup", true, &EndpointTable::signup},
    {"forgotPassUrl", "forgot_url", false, &EndpointTable::forgotPassword},
    {"loggedDeviceUrl", "loggedDevice", true, &EndpointTable::loggedDevices},
    {"paymentData", "pricing_online", false, &EndpointTable::paymentData},
    {"subscriveServer", "email_subs_url", true, &EndpointTable::subscribe},
    {"RedeemVoucher", "redeem_voucher", true, &EndpointTable::redeemVoucher},
    {"ReferServer", "RererURL", true, &EndpointTable::refer},
    {"ReferInfoServer", "RererInfo", true, &EndpointTable::referInfo},
    {"DecisionData", "free_vs_paid", true, &EndpointTable::decisionData},
};

} // namespace

void EndpointTable::load(QSettings &settings)
{
    for (const Entry &e : kEntries)
        this->*e.value = settings.value(QLatin1String(e.settingsKey), this->*e.value).toString();
}

void EndpointTable::save(QSettings &settings) const
{
    for (const Entry &e : kEntries)
        settings.setValue(QLatin1String(e.settingsKey), this->*e.value);
}

bool EndpointTable::isComplete() const
{
    for (const Entry &e : kEntries) {
        if (e.value != &EndpointTable::redeemVoucher && (this->*e.value).isEmpty())
            return false;
    }
    return true;
}

void EndpointTable::setFromRemoteDocument(const QJsonObject &document)
{
    const QJsonObject fields = document.value(QLatin1String("fields")).toObject();
    const QString key = QString::fromLatin1(kEndpointKey);
    for (const Entry &e : kEntries) {
        const QString value = fields.value(QLatin1String(e.remoteField)).toObject()
                                  .value(QLatin1String("stringValue")).toString();
        this->*e.value = e.enciphered ? decipher(value, key) : value;
    }
    qDebug() << "firebse forget passwor url:::::::::::::" << forgotPassword;
}

} // namespace Varnel
