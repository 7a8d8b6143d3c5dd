#pragma once

#include "accountstore.h"

namespace Varnel::RefBackend {

// Verdict on the "authToken" query item that the client adds to the web pages it opens: a JSON
// object {"password", "ttl", "udid", "username"} enciphered with the web-page key.
struct AuthTokenCheck {
    enum class State { Valid, Missing, Unreadable, Expired, UnknownAccount };

    State state = State::Missing;
    Account account;        // set when the credentials name an account
    qint64 ttl = 0;         // milliseconds since the epoch, as the token says

    static AuthTokenCheck of(const QString &token, const AccountStore &store, qint64 nowMs);
    QString stateName() const;      // "valid", "missing", "unreadable", "expired", "unknown-account"
    bool valid() const { return state == State::Valid; }
};

} // namespace Varnel::RefBackend
