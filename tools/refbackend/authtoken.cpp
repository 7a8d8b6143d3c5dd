#include "authtoken.h"

#include "common/crypto.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace Varnel::RefBackend {

AuthTokenCheck AuthTokenCheck::of(const QString &token, const AccountStore &store, qint64 nowMs)
{
    AuthTokenCheck check;
    if (token.isEmpty())
        return check;
    check.state = State::Unreadable;
    const QJsonDocument doc = QJsonDocument::fromJson(decipher(token, QLatin1String(kAuthTokenKey)).toUtf8());
    const QJsonObject o = doc.object();
    // The client writes "ttl" as decimal text; a number is accepted as well.
    const QJsonValue ttl = o.value(QLatin1String("ttl"));
    bool ttlOk = ttl.isDouble();
    check.ttl = ttlOk ? qint64(ttl.toDouble()) : ttl.toString().toLongLong(&ttlOk);
    if (!doc.isObject() || !ttlOk)
        return check;

    const Outcome who = store.authenticate(o.value(QLatin1String("username")).toString(),
                                           o.value(QLatin1String("password")).toString());
    if (!who.ok()) {
        check.state = State::UnknownAccount;
        return check;
    }
    check.account = who.account;
    check.state = check.ttl > nowMs ? State::Valid : State::Expired;
    return check;
}

QString AuthTokenCheck::stateName() const
{
    switch (state) {
    case State::Valid: return QStringLiteral("valid");
    case State::Missing: return QStringLiteral("missing");
    case State::Unreadable: return QStringLiteral("unreadable");
    case State::Expired: return QStringLiteral("expired");
    case State::UnknownAccount: return QStringLiteral("unknown-account");
    }
    return QString();
}

} // namespace Varnel::RefBackend
