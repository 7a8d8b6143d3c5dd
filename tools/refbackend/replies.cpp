#include "replies.h"

#include "common/crypto.h"

#include <QJsonDocument>

namespace Varnel::RefBackend {

int httpStatus(Refusal refusal)
{
    switch (refusal) {
    case Refusal::None:
        return 200;
    case Refusal::MissingInput:
    case Refusal::BadInput:
    case Refusal::UnknownUser:
        return 422;
    case Refusal::BadCredentials:
    case Refusal::Blocked:
    case Refusal::Closed:
        return 403;
    case Refusal::DeviceLimit:
    case Refusal::Taken:
    case Refusal::UnknownCode:
    case Refusal::UsedCode:
    case Refusal::OwnCode:
    case Refusal::AlreadyRedeemed:
    case Refusal::AlreadySubscribed:
        return 200;
    }
    return 500;
}

QJsonObject outcomeJson(const Outcome &outcome)
{
    return QJsonObject{{QStringLiteral("response_code"), outcome.ok() ? 1 : 2},
                       {QStringLiteral("message"), outcome.message}};
}

void sendText(httplib::Response &response, int status, const QByteArray &body, const char *contentType)
{
    response.status = status;
    response.set_content(body.constData(), size_t(body.size()), contentType);
}

void sendJson(httplib::Response &response, int status, const QJsonObject &body)
{
    sendText(response, status, QJsonDocument(body).toJson(QJsonDocument::Compact), "application/json");
}

void sendEnciphered(httplib::Response &response, int status, const QJsonObject &body)
{
    const QString json = QString::fromUtf8(QJsonDocument(body).toJson(QJsonDocument::Compact));
    sendText(response, status, encipher(json, QLatin1String(kReplyKey)).toLatin1(), "text/plain");
}

} // namespace Varnel::RefBackend
