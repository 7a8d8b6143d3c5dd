#pragma once

#include <QJsonObject>
#include <QString>

class QSettings;

namespace Varnel {

// The backend's operation URLs (and the payment-page data text), learnt at
// run time from the remote data document and kept in the settings store.
// The empty string means "not known".
struct EndpointTable
{
    QString login;
    QString signup;
    QString forgotPassword;
    QString paymentData;
    QString loggedDevices;
    QString subscribe;
    QString redeemVoucher;
    QString refer;
    QString referInfo;
    QString decisionData;

    // Reads the ten settings keys, each defaulting to the current value.
    void load(QSettings &settings);
    void save(QSettings &settings) const;

    // Every entry but the redeem-voucher one is known.
    bool isComplete() const;

    // Takes every entry from the "fields" of a remote document in Cloud
    // Firestore layout, deciphering the enciphered ones; a missing field
    // gives the empty string.
    void setFromRemoteDocument(const QJsonObject &document);
};

} // namespace Varnel
