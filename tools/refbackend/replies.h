#pragma once

#include "accountstore.h"

#include <QJsonObject>

#include <httplib.h>

namespace Varnel::RefBackend {

// How a refusal reaches the client: input errors 422, authorisation 403, and business refusals
// ("code already used") 200 with a "response_code" above 1, which the client reads as a refusal.
int httpStatus(Refusal refusal);

// {"response_code": 1 or 2, "message": ...}, the minimum every operation's reply carries.
QJsonObject outcomeJson(const Outcome &outcome);

void sendJson(httplib::Response &response, int status, const QJsonObject &body);
// The body is the Base64 cipher text of the compact JSON, with the login-reply key.
void sendEnciphered(httplib::Response &response, int status, const QJsonObject &body);
void sendText(httplib::Response &response, int status, const QByteArray &body, const char *contentType);

} // namespace Varnel::RefBackend
