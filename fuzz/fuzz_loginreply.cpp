// The backend's account replies as the client reads them: the login reply
// (enciphered, or its cached text), the logged-devices reply (enciphered)
// and the referral-information reply (plain JSON), into User and the
// server records. The first byte chooses; the rest is the JSON text, which
// the harness enciphers itself so that the fuzzer works on the JSON, or,
// for one choice, the raw body as it came over the wire.

#include "fuzzsupport.h"

#include "backend/apirequest.h"
#include "backend/ipbundle.h"
#include "backend/replyjson.h"
#include "backend/user.h"
#include "common/crypto.h"
#include "common/logger.h"

#include <QJsonArray>
#include <QJsonObject>

using namespace Varnel;

namespace {

QByteArray enciphered(const QByteArray &json)
{
    return encipher(QString::fromUtf8(json), QString::fromLatin1(kReplyKey)).toLatin1();
}

void checkUser(int result)
{
    const auto user = User::instance();
    VarnelFuzz::check(result >= 0 && result <= 2, "login result out of range");
    if (result != 0)
        return;
    for (const auto &bundle : user->bundles()) {
        VarnelFuzz::check(bundle->type() == 1 || (bundle->type() == 2 && bundle->connectionType() == 1),
                          "a server record that must be dropped was kept");
    }
    const auto active = user->activeBundle();
    VarnelFuzz::check(bool(active) == !user->bundles().isEmpty(), "active server");
    (void)user->planName();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    VarnelFuzz::Input input(data, size);
    const quint8 mode = input.byte() % 4;
    const QByteArray text = input.rest();
    // One client for the run: making its network manager costs more than a reply.
    static ApiRequest api;
    switch (mode) {
    case 0:   // a login reply
        checkUser(api.applyLoginReply(ApiRequest::decodeReply(enciphered(text))));
        break;
    case 1: { // a login body as received: Base64 (or not) of anything
        const QByteArray json = ApiRequest::decodeReplyText(text);
        checkUser(api.applyLoginReply(parseReplyJson(json)));
        break;
    }
    case 2: { // logged devices
        const QJsonDocument reply = ApiRequest::decodeReply(enciphered(text));
        if (reply.isObject())
            User::instance()->setLoggedDevices(reply.object().value(QLatin1String("data")).toArray());
        break;
    }
    case 3: { // referral information
        const QJsonDocument reply = parseReplyJson(text);
        if (reply.isObject())
            User::instance()->setReferInfo(reply.object());
        break;
    }
    }
    // The log keeps its records; not across inputs.
    Logger::instance().clear();
    return 0;
}
