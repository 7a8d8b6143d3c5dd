// The remote data document with the backend's endpoint addresses (a
// Firestore document, most values enciphered), as ensureEndpoints reads it.

#include "fuzzsupport.h"

#include "backend/endpoints.h"
#include "backend/replyjson.h"

#include <QJsonObject>

using namespace Varnel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QJsonDocument document = parseReplyJson(QByteArray(reinterpret_cast<const char *>(data), int(size)));
    if (!document.isObject())
        return 0;
    EndpointTable table;
    table.setFromRemoteDocument(document.object());
    // The two plain values are taken as sent.
    const QJsonObject fields = document.object().value(QLatin1String("fields")).toObject();
    const auto sent = [&](const char *field) {
        return fields.value(QLatin1String(field)).toObject().value(QLatin1String("stringValue")).toString();
    };
    VarnelFuzz::check(table.forgotPassword == sent("forgot_url"), "forgot_url changed");
    VarnelFuzz::check(table.paymentData == sent("pricing_online"), "pricing_online changed");
    (void)table.isComplete();
    return 0;
}
