#pragma once

#include <QDate>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QVector>

#include <functional>

namespace Varnel::RefBackend {

// Plan kinds as the login reply's "user_type" carries them (any other value reads as free).
enum class Plan { Free = 0, ScratchCard = 1, Premium = 2 };

// Data-file spelling: "free", "scratch_card", "premium". Returns false for anything else.
bool planFromName(const QString &name, Plan *plan);
QString planName(Plan plan);       // "free", "scratch_card", "premium"
QString planTitle(Plan plan);      // "Free", "Scratch Card", "Premium"

struct Device {
    QString udid;
    QString osName;
    QString model;
    QString brand;
    QString osVersion;
    QString appVersion;

    // The five members of a logged-devices entry.
    QJsonObject toReplyJson() const;
};

struct Account {
    QString username;
    QString password;
    QString email;
    Plan plan = Plan::Free;
    QDate validUntil;
    bool blocked = false;
    bool demo = false;
    int maxDevices = 0;              // 0: no limit
    QString referralCode;
    bool referralRedeemed = false;
    int referrals = 0;
    bool promotions = false;
    QString timezone;
    QString serverIp;
    QString serverIpDu;
    QVector<Device> devices;
    QJsonObject replyOverrides;      // merged over the login reply, for odd shapes in tests
    QJsonObject referInfoOverrides;  // merged over the refer-info reply; null removes a member

    // A paid plan whose date has passed counts as free.
    Plan effectivePlan(const QDate &today) const;
    int daysLeft(const QDate &today) const;
    QJsonObject toStateJson(const QDate &today) const;
};

struct Voucher {
    QString code;
    Plan plan = Plan::Premium;
    int days = 0;
    bool used = false;
};

// Read-only part of the data: what every account sees the same way.
struct Catalogue {
    QString decisionData;
    QJsonArray packages;
    QJsonArray servers;              // entries in the login reply's own member names, plus "premium"
    QString openVpnTemplate;         // sent Base64-encoded as the "config" of OpenVPN entries without one
    int referralRewardDays = 7;
    bool signupOpen = true;
    Plan signupPlan = Plan::Free;
    int signupDays = 30;
    QString contactEmail;
};

struct DataSet {
    Catalogue catalogue;
    QVector<Account> accounts;
    QVector<Voucher> vouchers;
};

// Builds a data set from the JSON data file. Relative expiries ("valid_days") count from `today`.
// On a malformed document returns false and explains in *error.
bool parseDataSet(const QJsonObject &root, const QDate &today, DataSet *out, QString *error);
bool loadDataSet(const QString &fileName, const QDate &today, DataSet *out, QString *error);

// A referral code derived from the user name, "VRN" and six characters, not yet taken.
QString uniqueReferralCode(const QString &username, const std::function<bool(const QString &)> &taken);

// Day text of the login reply, "05-Mar-2026", independent of the system locale.
QString replyDate(const QDate &date, const QString &format = QStringLiteral("dd-MMM-yyyy"));

} // namespace Varnel::RefBackend
