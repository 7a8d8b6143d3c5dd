#include "apihandlers.h"

#include "formdata.h"
#include "remotedocument.h"
#include "replies.h"

namespace Varnel::RefBackend {

namespace {

QString header(const httplib::Request &request, const char *name)
{
    return fromStd(request.get_header_value(name));
}

} // namespace

ApiHandlers::ApiHandlers(AccountStore &store, const Catalogue &catalogue, const QString &baseUrl)
    : store_(store)
    , servers_(catalogue)
    , loginReply_(catalogue, servers_, baseUrl)
    , remoteDocument_(RemoteDocument::build(baseUrl, catalogue.decisionData))
{
}

void ApiHandlers::remoteData(const httplib::Request &, httplib::Response &response) const
{
    sendJson(response, 200, remoteDocument_);
}

void ApiHandlers::login(const httplib::Request &request, httplib::Response &response)
{
    const FormData form(request.body);
    Device device;
    device.udid = form.value(QStringLiteral("udid"));
    device.osName = form.value(QStringLiteral("osName"));
    device.osVersion = form.value(QStringLiteral("osVersion"));
    device.brand = form.value(QStringLiteral("brand"));
    device.appVersion = form.value(QStringLiteral("vpnAppVersion"));
    device.model = header(request, "model");

    const Outcome outcome =
        store_.login(form.value(QStringLiteral("username")), form.value(QStringLiteral("pass")), device);
    // The client deciphers whatever comes back and does not look at the status.
    sendEnciphered(response, httpStatus(outcome.refusal),
                   outcome.ok() ? loginReply_.build(outcome.account, AccountStore::today()) : outcomeJson(outcome));
}

void ApiHandlers::signUp(const httplib::Request &request, httplib::Response &response)
{
    const FormData form(request.body);
    SignUpRequest signUp;
    signUp.username = form.value(QStringLiteral("username"));
    signUp.password = form.value(QStringLiteral("password"));
    signUp.promotions = form.value(QStringLiteral("should_receive_promotion")) == QLatin1String("1");
    signUp.timezone = form.value(QStringLiteral("timezone"));
    signUp.subscriptionCode = form.value(QStringLiteral("subscription_code"));
    const Outcome outcome = store_.signUp(signUp);
    sendJson(response, httpStatus(outcome.refusal), outcomeJson(outcome));
}

void ApiHandlers::forgotPassword(const httplib::Request &request, httplib::Response &response) const
{
    const Outcome outcome = store_.forgotPassword(FormData(request.body).value(QStringLiteral("username")));
    // An unknown user gets a bare text answer, as the provider's backend does.
    if (outcome.refusal == Refusal::UnknownUser)
        sendText(response, 422, outcome.message.toUtf8(), "text/plain");
    else
        sendJson(response, httpStatus(outcome.refusal), outcomeJson(outcome));
}

void ApiHandlers::subscribe(const httplib::Request &request, httplib::Response &response)
{
    const QString email = FormData(request.body).value(QStringLiteral("email"));
    // The client repeats the address in an "email" header; a request without it is not the app's.
    if (!email.isEmpty() && header(request, "email") != email) {
        const Outcome mismatch{Refusal::BadCredentials, QStringLiteral("The request could not be verified."),
                               Account()};
        sendJson(response, httpStatus(mismatch.refusal), outcomeJson(mismatch));
        return;
    }
    const Outcome outcome = store_.subscribe(email);
    sendJson(response, httpStatus(outcome.refusal), outcomeJson(outcome));
}

void ApiHandlers::redeemVoucher(const httplib::Request &request, httplib::Response &response)
{
    const FormData form(request.body);
    const Outcome outcome = store_.redeemVoucher(form.value(QStringLiteral("username")),
                                                 form.value(QStringLiteral("password")),
                                                 form.value(QStringLiteral("subscription_code")));
    QJsonObject body = outcomeJson(outcome);
    if (outcome.ok()) {
        body.insert(QStringLiteral("user_type"), int(outcome.account.plan));
        body.insert(QStringLiteral("validity_date"), replyDate(outcome.account.validUntil));
    }
    // Only callers that ask for it ("noEncrypted" = "1") get plain JSON.
    if (form.value(QStringLiteral("noEncrypted")) == QLatin1String("1"))
        sendJson(response, httpStatus(outcome.refusal), body);
    else
        sendEnciphered(response, httpStatus(outcome.refusal), body);
}

void ApiHandlers::referInfo(const httplib::Request &request, httplib::Response &response) const
{
    const FormData form(request.body);
    const Outcome outcome =
        store_.authenticate(form.value(QStringLiteral("username")), form.value(QStringLiteral("password")));
    if (!outcome.ok()) {
        // The client stores any 200 answer as the page content, so refusals must not be 200.
        sendJson(response, httpStatus(outcome.refusal), outcomeJson(outcome));
        return;
    }
    const int days = store_.referralRewardDays();
    QJsonObject body = outcomeJson(outcome);
    body.insert(QStringLiteral("title"), QStringLiteral("Refer a friend"));
    body.insert(QStringLiteral("message"),
                QStringLiteral("You and your friend both get %1 premium days.").arg(days));
    body.insert(QStringLiteral("pageContent"),
                QStringLiteral("Share your code. When a friend redeems it in the VarnelVPN app, %1 premium days are "
                               "added to both accounts. Friends referred so far: %2.")
                    .arg(days)
                    .arg(outcome.account.referrals));
    body.insert(QStringLiteral("referral_code"), outcome.account.referralCode);
    body.insert(QStringLiteral("referrals"), outcome.account.referrals);
    const QJsonObject &overrides = outcome.account.referInfoOverrides;
    for (auto it = overrides.constBegin(); it != overrides.constEnd(); ++it) {
        if (it.value().isNull())
            body.remove(it.key());
        else
            body.insert(it.key(), it.value());
    }
    sendJson(response, 200, body);
}

void ApiHandlers::refer(const httplib::Request &request, httplib::Response &response)
{
    const FormData form(request.body);
    const Outcome outcome = store_.redeemReferral(form.value(QStringLiteral("username")),
                                                  form.value(QStringLiteral("pass")),
                                                  form.value(QStringLiteral("referral_code")));
    sendJson(response, httpStatus(outcome.refusal), outcomeJson(outcome));
}

void ApiHandlers::loggedDevices(const httplib::Request &request, httplib::Response &response) const
{
    const FormData form(request.body);
    const Outcome outcome =
        store_.authenticate(form.value(QStringLiteral("username")), form.value(QStringLiteral("pass")));
    QJsonObject body = outcomeJson(outcome);
    if (outcome.ok()) {
        QJsonArray data;
        for (const Device &d : outcome.account.devices)
            data.append(d.toReplyJson());
        body.insert(QStringLiteral("message"), QStringLiteral("%1 devices").arg(data.size()));
        body.insert(QStringLiteral("data"), data);
    }
    sendEnciphered(response, httpStatus(outcome.refusal), body);
}

} // namespace Varnel::RefBackend
