#include "dataset.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QLocale>
#include <QSet>

namespace Varnel::RefBackend {

namespace {

struct PlanNames {
    Plan plan;
    const char *name;
    const char *title;
};

constexpr PlanNames kPlans[] = {
    {Plan::Free, "free", "Free"},
    {Plan::ScratchCard, "scratch_card", "Scratch Card"},
    {Plan::Premium, "premium", "Premium"},
};

const PlanNames &namesOf(Plan plan)
{
    for (const PlanNames &p : kPlans) {
        if (p.plan == plan)
            return p;
    }
    return kPlans[0];
}

// The template may be written as one string or as an array of lines.
QString joinedText(const QJsonValue &value)
{
    if (!value.isArray())
        return value.toString();
    QStringList lines;
    for (const QJsonValue &line : value.toArray())
        lines << line.toString();
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

// "valid_until" (ISO date) wins over "valid_days" (relative to today); neither gives today.
bool readExpiry(const QJsonObject &o, const QDate &today, QDate *out, QString *error)
{
    if (o.contains(QLatin1String("valid_until"))) {
        *out = QDate::fromString(o.value(QLatin1String("valid_until")).toString(), Qt::ISODate);
        if (!out->isValid()) {
            *error = QStringLiteral("\"valid_until\" is not a yyyy-MM-dd date");
            return false;
        }
        return true;
    }
    *out = today.addDays(o.value(QLatin1String("valid_days")).toInt(0));
    return true;
}

bool readPlan(const QJsonObject &o, const QString &member, Plan fallback, Plan *out, QString *error)
{
    if (!o.contains(member)) {
        *out = fallback;
        return true;
    }
    if (planFromName(o.value(member).toString(), out))
        return true;
    *error = QStringLiteral("unknown plan \"%1\"").arg(o.value(member).toString());
    return false;
}

Device readDevice(const QJsonObject &o)
{
    Device d;
    d.udid = o.value(QLatin1String("udid")).toString();
    d.osName = o.value(QLatin1String("os_name")).toString();
    d.model = o.value(QLatin1String("model")).toString();
    d.brand = o.value(QLatin1String("brand")).toString();
    d.osVersion = o.value(QLatin1String("os_version")).toString();
    d.appVersion = o.value(QLatin1String("vpn_app_version")).toString();
    return d;
}

bool readAccount(const QJsonObject &o, const QDate &today, Account *a, QString *error)
{
    a->username = o.value(QLatin1String("username")).toString();
    a->password = o.value(QLatin1String("password")).toString();
    if (a->username.isEmpty() || a->password.isEmpty()) {
        *error = QStringLiteral("an account needs \"username\" and \"password\"");
        return false;
    }
    if (!readPlan(o, QStringLiteral("plan"), Plan::Free, &a->plan, error)
        || !readExpiry(o, today, &a->validUntil, error))
        return false;
    a->email = o.value(QLatin1String("email")).toString();
    a->blocked = o.value(QLatin1String("blocked")).toBool();
    a->demo = o.value(QLatin1String("demo")).toBool();
    a->maxDevices = o.value(QLatin1String("max_devices")).toInt(0);
    a->referralCode = o.value(QLatin1String("referral_code")).toString();
    a->referralRedeemed = o.value(QLatin1String("referral_redeemed")).toBool();
    a->referrals = o.value(QLatin1String("referrals")).toInt(0);
    a->serverIp = o.value(QLatin1String("server_ip")).toString();
    a->serverIpDu = o.value(QLatin1String("server_ip_du")).toString();
    a->replyOverrides = o.value(QLatin1String("reply_overrides")).toObject();
    a->referInfoOverrides = o.value(QLatin1String("refer_info_overrides")).toObject();
    for (const QJsonValue &d : o.value(QLatin1String("devices")).toArray())
        a->devices << readDevice(d.toObject());
    return true;
}

bool readCatalogue(const QJsonObject &root, Catalogue *c, QString *error)
{
    c->decisionData = root.value(QLatin1String("decision_data")).toString();
    c->packages = root.value(QLatin1String("packages")).toArray();
    c->servers = root.value(QLatin1String("servers")).toArray();
    for (const QJsonValue &s : qAsConst(c->servers)) {
        if (!s.isObject()) {
            *error = QStringLiteral("every entry of \"servers\" must be an object");
            return false;
        }
    }
    c->openVpnTemplate = joinedText(root.value(QLatin1String("openvpn_config_template")));
    c->referralRewardDays = root.value(QLatin1String("referral_reward_days")).toInt(7);
    c->contactEmail = root.value(QLatin1String("contact_email")).toString();
    const QJsonObject signup = root.value(QLatin1String("signup")).toObject();
    c->signupOpen = signup.value(QLatin1String("open")).toBool(true);
    c->signupDays = signup.value(QLatin1String("valid_days")).toInt(30);
    return readPlan(signup, QStringLiteral("plan"), Plan::Free, &c->signupPlan, error);
}

} // namespace

bool planFromName(const QString &name, Plan *plan)
{
    for (const PlanNames &p : kPlans) {
        if (name == QLatin1String(p.name)) {
            *plan = p.plan;
            return true;
        }
    }
    return false;
}

QString planName(Plan plan)
{
    return QString::fromLatin1(namesOf(plan).name);
}

QString planTitle(Plan plan)
{
    return QString::fromLatin1(namesOf(plan).title);
}

QJsonObject Device::toReplyJson() const
{
    return QJsonObject{{QStringLiteral("os_name"), osName},
                       {QStringLiteral("model"), model},
                       {QStringLiteral("brand"), brand},
                       {QStringLiteral("os_version"), osVersion},
                       {QStringLiteral("vpn_app_version"), appVersion}};
}

Plan Account::effectivePlan(const QDate &today) const
{
    return validUntil >= today ? plan : Plan::Free;
}

int Account::daysLeft(const QDate &today) const
{
    return validUntil >= today ? int(today.daysTo(validUntil)) : 0;
}

QJsonObject Account::toStateJson(const QDate &today) const
{
    QJsonArray deviceList;
    for (const Device &d : devices) {
        QJsonObject entry = d.toReplyJson();
        entry.insert(QStringLiteral("udid"), d.udid);
        deviceList.append(entry);
    }
    return QJsonObject{{QStringLiteral("username"), username},
                       {QStringLiteral("email"), email},
                       {QStringLiteral("plan"), planName(plan)},
                       {QStringLiteral("effective_plan"), planName(effectivePlan(today))},
                       {QStringLiteral("valid_until"), validUntil.toString(Qt::ISODate)},
                       {QStringLiteral("days_left"), daysLeft(today)},
                       {QStringLiteral("blocked"), blocked},
                       {QStringLiteral("referral_code"), referralCode},
                       {QStringLiteral("referral_redeemed"), referralRedeemed},
                       {QStringLiteral("referrals"), referrals},
                       {QStringLiteral("promotions"), promotions},
                       {QStringLiteral("timezone"), timezone},
                       {QStringLiteral("devices"), deviceList}};
}

bool parseDataSet(const QJsonObject &root, const QDate &today, DataSet *out, QString *error)
{
    DataSet data;
    if (!readCatalogue(root, &data.catalogue, error))
        return false;

    QSet<QString> names;
    QSet<QString> codes;
    for (const QJsonValue &v : root.value(QLatin1String("accounts")).toArray()) {
        Account a;
        if (!readAccount(v.toObject(), today, &a, error))
            return false;
        if (names.contains(a.username)) {
            *error = QStringLiteral("duplicate account \"%1\"").arg(a.username);
            return false;
        }
        if (!a.referralCode.isEmpty() && codes.contains(a.referralCode)) {
            *error = QStringLiteral("duplicate referral code \"%1\"").arg(a.referralCode);
            return false;
        }
        names.insert(a.username);
        codes.insert(a.referralCode);
        data.accounts << a;
    }
    // Accounts without a code get one now, so every account can be referred.
    for (Account &a : data.accounts) {
        if (a.referralCode.isEmpty()) {
            a.referralCode = uniqueReferralCode(a.username, [&](const QString &c) { return codes.contains(c); });
            codes.insert(a.referralCode);
        }
    }

    for (const QJsonValue &v : root.value(QLatin1String("vouchers")).toArray()) {
        const QJsonObject o = v.toObject();
        Voucher voucher;
        voucher.code = o.value(QLatin1String("code")).toString();
        voucher.days = o.value(QLatin1String("days")).toInt(0);
        voucher.used = o.value(QLatin1String("used")).toBool();
        if (voucher.code.isEmpty() || voucher.days <= 0) {
            *error = QStringLiteral("a voucher needs \"code\" and a positive \"days\"");
            return false;
        }
        if (!readPlan(o, QStringLiteral("plan"), Plan::Premium, &voucher.plan, error))
            return false;
        data.vouchers << voucher;
    }
    *out = data;
    return true;
}

bool loadDataSet(const QString &fileName, const QDate &today, DataSet *out, QString *error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(fileName, file.errorString());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!doc.isObject()) {
        *error = QStringLiteral("%1 is not a JSON object: %2").arg(fileName, parseError.errorString());
        return false;
    }
    if (!parseDataSet(doc.object(), today, out, error)) {
        *error = QStringLiteral("%1: %2").arg(fileName, *error);
        return false;
    }
    return true;
}

QString uniqueReferralCode(const QString &username, const std::function<bool(const QString &)> &taken)
{
    for (int salt = 0;; ++salt) {
        const QByteArray seed = username.toUtf8() + '#' + QByteArray::number(salt);
        const QByteArray hash = QCryptographicHash::hash(seed, QCryptographicHash::Sha1).toHex().toUpper();
        const QString code = QStringLiteral("VRN") + QString::fromLatin1(hash.left(6));
        if (!taken(code))
            return code;
    }
}

QString replyDate(const QDate &date, const QString &format)
{
    return QLocale::c().toString(date, format);
}

} // namespace Varnel::RefBackend
