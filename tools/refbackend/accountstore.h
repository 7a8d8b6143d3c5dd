#pragma once

#include "dataset.h"

#include <QMap>
#include <QSet>

#include <mutex>

namespace Varnel::RefBackend {

// Why the backend said no. The HTTP layer turns each kind into a status code.
enum class Refusal {
    None,
    MissingInput,       // a required item is empty
    BadInput,           // an item is malformed (short password, bad e-mail address)
    BadCredentials,
    Blocked,            // the account is suspended
    Closed,             // sign-ups are switched off
    DeviceLimit,
    Taken,              // the user name exists already
    UnknownCode,        // voucher or referral code not known
    UsedCode,
    OwnCode,
    AlreadyRedeemed,
    UnknownUser,
    AlreadySubscribed,
};

struct Outcome {
    Refusal refusal = Refusal::None;
    QString message;
    Account account;    // the account as it is after the operation, when one was involved

    bool ok() const { return refusal == Refusal::None; }
};

struct SignUpRequest {
    QString username;
    QString password;
    bool promotions = false;
    QString timezone;
    QString subscriptionCode;
};

// The backend's mutable state: accounts, vouchers and newsletter subscribers. Request handlers
// run on several threads at once, so every operation holds one lock for its whole duration.
class AccountStore
{
public:
    explicit AccountStore(const DataSet &data);

    // Checks the credentials and records the device (by its udid) on success.
    Outcome login(const QString &username, const QString &password, const Device &device);
    Outcome authenticate(const QString &username, const QString &password) const;
    Outcome signUp(const SignUpRequest &request);
    Outcome forgotPassword(const QString &username) const;
    Outcome redeemVoucher(const QString &username, const QString &password, const QString &code);
    Outcome redeemReferral(const QString &username, const QString &password, const QString &code);
    Outcome subscribe(const QString &email);

    bool find(const QString &username, Account *out) const;
    int referralRewardDays() const { return referralRewardDays_; }

    // Back to the state of the data file.
    void reset();

    static QDate today();

private:
    Outcome checkCredentials(const QString &username, const QString &password) const;
    const Account *referrerOf(const QString &code) const;
    void extend(Account &account, Plan plan, int days) const;

    const DataSet initial_;
    const int referralRewardDays_;
    mutable std::mutex mutex_;
    QMap<QString, Account> accounts_;
    QMap<QString, Voucher> vouchers_;   // keyed by the upper-case code
    QSet<QString> subscribers_;
};

} // namespace Varnel::RefBackend
