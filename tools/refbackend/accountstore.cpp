#include "accountstore.h"

#include <QRegularExpression>

namespace Varnel::RefBackend {

namespace {

constexpr int kMaxUsernameLength = 64;
constexpr int kMinPasswordLength = 6;

Outcome refused(Refusal refusal, const QString &message)
{
    return Outcome{refusal, message, Account()};
}

Outcome accepted(const QString &message, const Account &account)
{
    return Outcome{Refusal::None, message, account};
}

// Codes are typed by hand: ignore surrounding blanks and letter case.
QString normalisedCode(const QString &code)
{
    return code.trimmed().toUpper();
}

} // namespace

AccountStore::AccountStore(const DataSet &data)
    : initial_(data)
    , referralRewardDays_(data.catalogue.referralRewardDays)
{
    reset();
}

QDate AccountStore::today()
{
    return QDate::currentDate();
}

void AccountStore::reset()
{
    std::lock_guard<std::mutex> lock(mutex_);
    accounts_.clear();
    vouchers_.clear();
    subscribers_.clear();
    for (const Account &a : initial_.accounts)
        accounts_.insert(a.username, a);
    for (const Voucher &v : initial_.vouchers)
        vouchers_.insert(normalisedCode(v.code), v);
}

Outcome AccountStore::checkCredentials(const QString &username, const QString &password) const
{
    if (username.isEmpty() || password.isEmpty())
        return refused(Refusal::MissingInput, QStringLiteral("Please enter your username and password."));
    const auto it = accounts_.constFind(username);
    if (it == accounts_.constEnd() || it->password != password)
        return refused(Refusal::BadCredentials, QStringLiteral("Invalid username or password."));
    if (it->blocked)
        return refused(Refusal::Blocked,
                       QStringLiteral("This account has been suspended. Please contact support."));
    return accepted(QString(), *it);
}

Outcome AccountStore::authenticate(const QString &username, const QString &password) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return checkCredentials(username, password);
}

Outcome AccountStore::login(const QString &username, const QString &password, const Device &device)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const Outcome check = checkCredentials(username, password);
    if (!check.ok())
        return check;
    Account &account = accounts_[username];
    auto known = std::find_if(account.devices.begin(), account.devices.end(),
                              [&](const Device &d) { return d.udid == device.udid; });
    if (known != account.devices.end()) {
        *known = device;
    } else {
        if (account.maxDevices > 0 && account.devices.size() >= account.maxDevices)
            return refused(Refusal::DeviceLimit,
                           QStringLiteral("This account is already in use on %1 devices. "
                                          "Log out on one of them first.")
                               .arg(account.maxDevices));
        account.devices << device;
    }
    return accepted(QStringLiteral("Login successful."), account);
}

Outcome AccountStore::signUp(const SignUpRequest &request)
{
    static const QRegularExpression blank(QStringLiteral("\\s"));
    std::lock_guard<std::mutex> lock(mutex_);
    if (!initial_.catalogue.signupOpen)
        return refused(Refusal::Closed, QStringLiteral("Sign-ups are closed at the moment."));
    if (request.username.isEmpty() || request.password.isEmpty())
        return refused(Refusal::MissingInput, QStringLiteral("Username and password are required."));
    if (request.username.size() > kMaxUsernameLength || request.username.contains(blank))
        return refused(Refusal::BadInput,
                       QStringLiteral("The username may not contain blanks and may have at most %1 characters.")
                           .arg(kMaxUsernameLength));
    if (request.password.size() < kMinPasswordLength)
        return refused(Refusal::BadInput,
                       QStringLiteral("The password must have at least %1 characters.").arg(kMinPasswordLength));
    if (accounts_.contains(request.username))
        return refused(Refusal::Taken, QStringLiteral("This username is already taken."));

    Voucher *voucher = nullptr;
    if (!request.subscriptionCode.isEmpty()) {
        const auto it = vouchers_.find(normalisedCode(request.subscriptionCode));
        if (it == vouchers_.end())
            return refused(Refusal::UnknownCode, QStringLiteral("Invalid subscription code."));
        if (it->used)
            return refused(Refusal::UsedCode, QStringLiteral("This subscription code has already been used."));
        voucher = &it.value();
    }

    Account account;
    account.username = request.username;
    account.password = request.password;
    account.promotions = request.promotions;
    account.timezone = request.timezone;
    account.plan = voucher ? voucher->plan : initial_.catalogue.signupPlan;
    account.validUntil = today().addDays(voucher ? voucher->days : initial_.catalogue.signupDays);
    account.referralCode = uniqueReferralCode(account.username, [this](const QString &code) {
        return referrerOf(code) != nullptr;
    });
    if (voucher)
        voucher->used = true;
    accounts_.insert(account.username, account);
    return accepted(QStringLiteral("Your account has been created."), account);
}

Outcome AccountStore::forgotPassword(const QString &username) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (username.isEmpty())
        return refused(Refusal::MissingInput, QStringLiteral("Please enter your username."));
    const auto it = accounts_.constFind(username);
    if (it == accounts_.constEnd())
        return refused(Refusal::UnknownUser, QStringLiteral("User not found"));
    if (it->blocked)
        return refused(Refusal::Blocked,
                       QStringLiteral("This account has been suspended. Please contact support."));
    return accepted(QStringLiteral("Password reset instructions have been sent to the e-mail address of "
                                   "this account."),
                    *it);
}

void AccountStore::extend(Account &account, Plan plan, int days) const
{
    // Paid time that is left carries over into the new period.
    const QDate from = account.effectivePlan(today()) != Plan::Free ? account.validUntil : today();
    account.plan = plan;
    account.validUntil = from.addDays(days);
}

Outcome AccountStore::redeemVoucher(const QString &username, const QString &password, const QString &code)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const Outcome check = checkCredentials(username, password);
    if (!check.ok())
        return check;
    if (code.trimmed().isEmpty())
        return refused(Refusal::MissingInput, QStringLiteral("Please enter a subscription code."));
    const auto it = vouchers_.find(normalisedCode(code));
    if (it == vouchers_.end())
        return refused(Refusal::UnknownCode, QStringLiteral("Invalid subscription code."));
    if (it->used)
        return refused(Refusal::UsedCode, QStringLiteral("This subscription code has already been used."));
    it->used = true;
    Account &account = accounts_[username];
    extend(account, it->plan, it->days);
    return accepted(QStringLiteral("Subscription code redeemed: %1 until %2.")
                        .arg(planTitle(account.plan), replyDate(account.validUntil)),
                    account);
}

const Account *AccountStore::referrerOf(const QString &code) const
{
    const QString wanted = normalisedCode(code);
    for (const Account &a : accounts_) {
        if (normalisedCode(a.referralCode) == wanted)
            return &a;
    }
    return nullptr;
}

Outcome AccountStore::redeemReferral(const QString &username, const QString &password, const QString &code)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const Outcome check = checkCredentials(username, password);
    if (!check.ok())
        return check;
    if (code.trimmed().isEmpty())
        return refused(Refusal::MissingInput, QStringLiteral("Please enter a referral code."));
    const Account *referrer = referrerOf(code);
    if (!referrer)
        return refused(Refusal::UnknownCode, QStringLiteral("Invalid referral code."));
    const QString owner = referrer->username;
    if (owner == username)
        return refused(Refusal::OwnCode, QStringLiteral("You cannot redeem your own referral code."));
    Account &account = accounts_[username];
    if (account.referralRedeemed)
        return refused(Refusal::AlreadyRedeemed, QStringLiteral("You have already redeemed a referral code."));

    // Both sides get the reward; a paid plan stays what it is and only grows longer.
    const auto reward = [this](Account &a) {
        const Plan current = a.effectivePlan(today());
        extend(a, current == Plan::Free ? Plan::Premium : current, referralRewardDays_);
    };
    Account &ownerAccount = accounts_[owner];
    reward(ownerAccount);
    ownerAccount.referrals += 1;
    reward(account);
    account.referralRedeemed = true;
    return accepted(QStringLiteral("Referral code accepted: %1 premium days were added to your account.")
                        .arg(referralRewardDays_),
                    account);
}

Outcome AccountStore::subscribe(const QString &email)
{
    static const QRegularExpression address(QStringLiteral("^[^@\\s]+@[^@\\s]+\\.[^@\\s]+$"));
    std::lock_guard<std::mutex> lock(mutex_);
    if (email.isEmpty())
        return refused(Refusal::MissingInput, QStringLiteral("Please enter your e-mail address."));
    if (!address.match(email).hasMatch())
        return refused(Refusal::BadInput, QStringLiteral("Please enter a valid e-mail address."));
    const QString key = email.toLower();
    if (subscribers_.contains(key))
        return refused(Refusal::AlreadySubscribed, QStringLiteral("This e-mail address is already subscribed."));
    subscribers_.insert(key);
    return accepted(QStringLiteral("Thank you for subscribing to our newsletter!"), Account());
}

bool AccountStore::find(const QString &username, Account *out) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = accounts_.constFind(username);
    if (it == accounts_.constEnd())
        return false;
    *out = *it;
    return true;
}

} // namespace Varnel::RefBackend
