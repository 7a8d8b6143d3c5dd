#include "backend/apirequest.h"

#include "backend/backendconfig.h"
#include "backend/formencoding.h"
#include "backend/logincache.h"
#include "backend/replyjson.h"
#include "backend/user.h"
#include "backend/vpncredentials.h"
#include "common/appinfo.h"
#include "common/config.h"
#include "common/crypto.h"
#include "common/localeinfo.h"
#include "common/logger.h"
#include "common/settingsstore.h"
#include "platform/deviceinfo.h"
#include "platform/heaprelease.h"
#include "platform/osname.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonObject>
#include <QSettings>
#include <QSysInfo>

namespace Varnel {

namespace {

void log(const QString &text)
{
    Logger::instance().log(text, 1, 4);
}

QString machineId()
{
    return QString::fromLatin1(QSysInfo::machineUniqueId());
}

// A "response_code" above 1 is the server's refusal.
bool refused(const QJsonObject &reply)
{
    return reply.value(QLatin1String("response_code")).toInt() > 1;
}

QString serverMessage(const QJsonObject &reply)
{
    return reply.value(QLatin1String("message")).toString();
}

} // namespace

struct ApiRequest::Answer {
    int status = 0;
    QByteArray body;
    QJsonObject object;
    bool isObject = false;

    QString message() const { return serverMessage(object); }
    bool refused() const { return Varnel::refused(object); }
};

ApiRequest::ApiRequest(QObject *parent)
    : BaseHttpRequest(parent)
{
}

std::shared_ptr<ApiRequest> ApiRequest::instance()
{
    static const std::shared_ptr<ApiRequest> api = std::make_shared<ApiRequest>();
    return api;
}

// ---------------------------------------------------------------- endpoints

void ApiRequest::loadEndpoints()
{
    readSettings([this](QSettings &settings) { m_endpoints.load(settings); });
}

void ApiRequest::saveEndpoints()
{
    writeSettings([this](QSettings &settings) { m_endpoints.save(settings); });
}

bool ApiRequest::ensureEndpoints()
{
    const std::shared_ptr<User> user = User::instance();
    loadEndpoints();
    if (m_endpoints.isComplete()) {
        user->setDecisionData(m_endpoints.decisionData);
        return true;
    }

    int status = 0;
    const QByteArray body = get(BackendConfig::dataEndpointUrl(), status);
    if (status != 200)
        return false;
    const QJsonDocument document = parseReplyJson(body);
    if (!document.isObject())
        return false;

    m_endpoints.setFromRemoteDocument(document.object());
    // The fresh value, so the payment page of this session has its table.
    user->setDecisionData(m_endpoints.decisionData);
    saveEndpoints();
    return true;
}

// ---------------------------------------------------------------- helpers

ApiRequest::Answer ApiRequest::send(const QString &url, const QUrlQuery &form,
                                    const QMap<QString, QString> &headers)
{
    Answer answer;
    answer.body = post(url, formBody(form), answer.status, headers);
    const QJsonDocument document = parseReplyJson(answer.body);
    answer.isObject = document.isObject();
    answer.object = document.object();
    return answer;
}

QUrlQuery ApiRequest::accountForm(const QString &passwordItem)
{
    const VpnCredentials credentials = vpnCredentials();
    QUrlQuery form;
    addFormItem(form, QStringLiteral("username"), credentials.username);
    addFormItem(form, passwordItem, credentials.password);
    addFormItem(form, QStringLiteral("udid"), machineId());
    return form;
}

QString ApiRequest::unreadableAnswer()
{
    return tr("Could not connect to server");
}

void ApiRequest::noteNoAnswer(int status, const QString &invalidUrlLog,
                              const QString &invalidUrlMessage, const QString &networkMessage)
{
    if (status == -2) {
        log(tr("Network request error"));
        m_message = networkMessage;
    } else if (status == -1) {
        log(invalidUrlLog);
        m_message = invalidUrlMessage;
    }
}

int ApiRequest::voucherResult(const Answer &answer, const QString &invalidUrlMessage,
                              const QString &networkMessage)
{
    noteNoAnswer(answer.status, tr("Invalid Subscribe URL"), invalidUrlMessage, networkMessage);
    switch (answer.status) {
    case -1:
        return 2;
    case -2:
        return 3;
    case 200:
        if (answer.isObject) {
            m_message = answer.message();
            return answer.refused() ? 4 : 0;
        }
        m_message = QString::fromUtf8(answer.body).simplified();
        return 4;
    default:
        // A refusal in the backend's words; any other answer (a server
        // error, a proxy's page) must not leave an earlier text standing.
        const bool refusal = answer.status == 403 || answer.status == 422;
        m_message = refusal && answer.isObject ? answer.message() : networkMessage;
        return 4;
    }
}

void ApiRequest::logReply(const QString &operation, const QJsonObject &reply)
{
    // What the reply said, never the reply: it holds the account's data,
    // and the log reaches the terminal and the session's journal.
    QString code;
    for (const char *key : {"response_code", "status"}) {
        if (reply.contains(QLatin1String(key))) {
            code = QStringLiteral(", %1 %2").arg(QLatin1String(key), reply.value(QLatin1String(key)).toVariant().toString());
            break;
        }
    }
    log(tr("%1 reply: %2 fields%3").arg(operation).arg(reply.size()).arg(code));
}

// ---------------------------------------------------------------- login

QJsonDocument ApiRequest::decodeReply(const QByteArray &body)
{
    return parseReplyJson(decodeReplyText(body));
}

QByteArray ApiRequest::decodeReplyText(const QByteArray &body)
{
    // The body counts up to its first zero byte.
    return decipherToUtf8(QByteArray(body.constData()), QByteArray(kReplyKey));
}

int ApiRequest::login(const QString &username, const QString &password)
{
    if (!ensureEndpoints())
        return 3;
    log(tr("Login URL :  %1").arg(m_endpoints.login));

    const DeviceInfo device = deviceInfo();
    QUrlQuery form;
    addFormItem(form, QStringLiteral("username"), username);
    addFormItem(form, QStringLiteral("pass"), password);
    addFormItem(form, QStringLiteral("udid"), machineId());
    addFormItem(form, QStringLiteral("vpnAppVersion"), applicationVersion());
    addFormItem(form, QStringLiteral("brand"), device.manufacturer);
    addFormItem(form, QStringLiteral("osName"), loginSystemName());
    addFormItem(form, QStringLiteral("osVersion"), QSysInfo::productVersion());
    addFormItem(form, QStringLiteral("isRooted"), QStringLiteral("0"));
    addFormItem(form, QStringLiteral("bundle2"), QStringLiteral("1"));
    addFormItem(form, QStringLiteral("bundle"), device.manufacturer);
    addFormItem(form, QStringLiteral("device_type"), QStringLiteral("3"));
    addFormItem(form, QStringLiteral("app_id"), QStringLiteral("1"));
    addFormItem(form, QStringLiteral("player_id"), QStringLiteral("0"));

    const QMap<QString, QString> headers{
        {QStringLiteral("countryCode"), QString::number(countryCallingCode())},
        {QStringLiteral("model"), device.model},
        {QStringLiteral("osPlatform"), loginSystemName()},
    };

    int result = 0;
    {
        // An automatic login is answered from the reply of the last network
        // login. A reply runs to megabytes with thousands of servers, so it is
        // parsed once.
        QByteArray text;
        QJsonDocument reply;
        if (Config::instance()->autoLogin()) {
            text = LoginCache::readText();
            reply = parseReplyJson(text);
        }
        if (reply.isEmpty()) {
            int status = 0;   // the reply decides, whatever the status
            const QByteArray body = post(m_endpoints.login, formBody(form), status, headers);
            text = decodeReplyText(body);
            reply = parseReplyJson(text);
            // A reply that is not JSON leaves the cache empty.
            LoginCache::writeText(reply.isNull() ? QByteArray() : text);
        }
        result = applyLoginReply(reply);
    }
    // The body, the text and the document of a large reply are freed by now; without this the heap keeps their pages.
    releaseFreeHeap();
    return result;
}

int ApiRequest::applyLoginReply(const QJsonDocument &reply)
{
    if (!reply.isObject())
        return 2;
    const QJsonObject root = reply.object();
    logReply(QStringLiteral("Login"), root);

    if (refused(root)) {
        m_message = serverMessage(root);
        return 1;
    }
    log(tr("Login User Type :  %1").arg(root.value(QLatin1String("user_type")).toInt()));
    User::instance()->setFromLoginReply(root);
    return 0;
}

// ---------------------------------------------------------------- sign-up, recovery

int ApiRequest::signUp(const QString &username, const QString &password, const QString &promotion,
                       const QString &subscriptionCode)
{
    if (!ensureEndpoints())
        return 2;

    QUrlQuery form;
    addFormItem(form, QStringLiteral("username"), username);
    addFormItem(form, QStringLiteral("password"), password);
    addFormItem(form, QStringLiteral("should_receive_promotion"), promotion);
    addFormItem(form, QStringLiteral("timezone"), utcOffsetText());
    addFormItem(form, QStringLiteral("subscription_code"), subscriptionCode);
    const Answer answer = send(m_endpoints.signup, form);

    // The page shows message for a refusal (3): an answer that is not the
    // backend's JSON says the request failed, never an earlier text.
    switch (answer.status) {
    case 200:
        if (!answer.isObject) {
            m_message = unreadableAnswer();
            return 3;
        }
        m_message = answer.message();
        return answer.refused() ? 3 : 0;
    case 403:
    case 422:
        m_message = answer.isObject ? answer.message() : unreadableAnswer();
        return 3;
    default:
        noteNoAnswer(answer.status, tr("Invalid Signup URL"), tr("Invalid Signup URL"),
                     tr("Network request error"));
        return 1;
    }
}

int ApiRequest::forgotPassword(const QString &username)
{
    if (!ensureEndpoints())
        return 2;

    QUrlQuery form;
    addFormItem(form, QStringLiteral("username"), username);
    const Answer answer = send(m_endpoints.forgotPassword, form);
    qDebug() << "forget response code::" << answer.status;

    switch (answer.status) {
    case 200:
        if (answer.isObject) {
            m_message = answer.message();
            return answer.refused() ? 3 : 0;
        }
        m_message = QString::fromUtf8(answer.body).simplified();
        return 3;
    case 403:
        m_message = answer.isObject ? answer.message() : unreadableAnswer();
        return 3;
    case 422:
        m_message = answer.isObject ? answer.message() : tr("User Not Found!");
        return 3;
    default:
        noteNoAnswer(answer.status, tr("Invalid Forgot password URL"),
                     tr("Invalid Forgot password URL"), tr("Network request error"));
        return 1;
    }
}

// ---------------------------------------------------------------- subscription, voucher

int ApiRequest::subscribe(const QString &email)
{
    if (email.isEmpty()) {
        m_message = tr("Invalid Email!");
        return 1;
    }
    QUrlQuery form;
    addFormItem(form, QStringLiteral("email"), email);
    const Answer answer = send(m_endpoints.subscribe, form, {{QStringLiteral("email"), email}});
    qDebug() << "subscribe response code::" << answer.status;
    return voucherResult(answer, tr("Invalid Subscribe URL"), tr("Network request error"));
}

int ApiRequest::redeemVoucher(const QString &code)
{
    if (!ensureEndpoints()) {
        // The page shows message whatever the code, so say why.
        m_message = tr("Could not connect to server!");
        return 2;
    }
    if (code.isEmpty()) {
        m_message = tr("Empty subscription code!");
        return 1;
    }

    QUrlQuery form = accountForm(QStringLiteral("password"));
    addFormItem(form, QStringLiteral("subscription_code"), code);
    addFormItem(form, QStringLiteral("noEncrypted"), QStringLiteral("1"));
    const Answer answer = send(m_endpoints.redeemVoucher, form);
    qDebug() << "subscribe response code::" << answer.status;
    return voucherResult(answer, tr("Invalid  URL"), tr("Could not connect to serve"));
}

// ---------------------------------------------------------------- referral

int ApiRequest::referInfo()
{
    if (!ensureEndpoints()) {
        qDebug() << "not retribe the refer url";
        m_message = tr("Could not connect to server!");
        return 1;
    }

    const Answer answer = send(m_endpoints.referInfo, accountForm(QStringLiteral("password")));
    if (!answer.isObject)
        return 2;
    logReply(QStringLiteral("Referral information"), answer.object);
    if (answer.status == 200) {
        User::instance()->setReferInfo(answer.object);
        return 0;
    }
    m_message = answer.message();
    return 3;
}

int ApiRequest::referRedeem(const QString &code)
{
    if (!ensureEndpoints()) {
        m_message = tr("Could not connect to server!");
        return 1;
    }

    QUrlQuery form = accountForm(QStringLiteral("pass"));
    addFormItem(form, QStringLiteral("referral_code"), code);
    const Answer answer = send(m_endpoints.refer, form);
    if (!answer.isObject) {
        // The page shows message: not an earlier operation's text.
        m_message = tr("Could not connect to server!");
        return 2;
    }
    logReply(QStringLiteral("Referral code"), answer.object);
    if (answer.refused()) {
        m_message = answer.message();
        qDebug() << "last message::" << m_message;
        return 3;
    }
    return 0;
}

// ---------------------------------------------------------------- devices

int ApiRequest::loggedDevices()
{
    if (!ensureEndpoints()) {
        m_message = tr("Could not connect to server!");
        return 1;
    }

    int status = 0;   // the reply decides, whatever the status
    const QByteArray body = post(m_endpoints.loggedDevices, formBody(accountForm(QStringLiteral("pass"))),
                                 status, {});
    const QJsonDocument reply = decodeReply(body);
    if (!reply.isObject())
        return 2;
    const QJsonObject root = reply.object();
    logReply(QStringLiteral("Logged devices"), root);
    if (refused(root)) {
        m_message = serverMessage(root);
        return 3;
    }
    User::instance()->setLoggedDevices(root.value(QLatin1String("data")).toArray());
    return 0;
}

} // namespace Varnel
