#include "webpages.h"

#include "authtoken.h"

#include <QDateTime>
#include <QJsonObject>
#include <QRegularExpression>

#include <optional>

namespace Varnel::RefBackend {

namespace {

QString esc(const QString &text)
{
    return text.toHtmlEscaped();
}

QByteArray document(const QString &title, const QString &state, const QString &body)
{
    static const QString page = QStringLiteral(
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>VarnelVPN - %1</title>"
        "<style>body{font-family:Montserrat,sans-serif;color:#434343;max-width:40em;margin:3em auto}"
        "h1{color:#BF1E2E}.valid{color:#2e7d32}.refused{color:#BF1E2E}"
        "table{border-collapse:collapse}td,th{border:1px solid #ccc;padding:.3em .8em}</style></head>\n"
        "<body data-token-state=\"%2\"><h1>%1</h1>\n%3\n</body></html>\n");
    return page.arg(esc(title), state, body).toUtf8();
}

QString refusalText(const AuthTokenCheck &check)
{
    switch (check.state) {
    case AuthTokenCheck::State::Missing:
        return QStringLiteral("This page needs a sign-in token. Open it from the VarnelVPN app.");
    case AuthTokenCheck::State::Unreadable:
        return QStringLiteral("The sign-in token could not be read.");
    case AuthTokenCheck::State::Expired:
        return QStringLiteral("This link has expired. Open it again from the VarnelVPN app.");
    case AuthTokenCheck::State::UnknownAccount:
        return QStringLiteral("The sign-in token names no valid account.");
    case AuthTokenCheck::State::Valid:
        break;
    }
    return QString();
}

std::optional<QJsonObject> findPackage(const QJsonArray &packages, const QString &id)
{
    for (const QJsonValue &p : packages) {
        if (p.toObject().value(QLatin1String("id")).toString() == id)
            return p.toObject();
    }
    return std::nullopt;
}

QString packageLine(const QJsonObject &p)
{
    return QStringLiteral("%1 - %2 <small>%3</small>")
        .arg(esc(p.value(QLatin1String("name")).toString()), esc(p.value(QLatin1String("price")).toString()),
             esc(p.value(QLatin1String("sub_title")).toString()));
}

} // namespace

WebPages::WebPages(const AccountStore &store, const Catalogue &catalogue)
    : store_(store)
    , catalogue_(catalogue)
{
}

WebPages::Page WebPages::signedInPage(const QString &title, const QString &content, const QString &token) const
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const AuthTokenCheck check = AuthTokenCheck::of(token, store_, now);
    if (!check.valid())
        return Page{403, document(title, check.stateName(),
                                  QStringLiteral("<p class=\"refused\">%1</p>").arg(esc(refusalText(check))))};

    const QDate today = AccountStore::today();
    const Account &a = check.account;
    const QString who = QStringLiteral(
                            "<p class=\"valid\">Signed in as <b>%1</b> (%2 plan, valid until %3). "
                            "This link stays valid for %4 more minutes.</p>")
                            .arg(esc(a.username), planTitle(a.effectivePlan(today)),
                                 replyDate(a.validUntil), QString::number((check.ttl - now) / 60000));
    return Page{200, document(title, check.stateName(), who + content)};
}

WebPages::Page WebPages::checkout(const QString &packageId, const QString &token) const
{
    const std::optional<QJsonObject> package = findPackage(catalogue_.packages, packageId);
    const QString content = package
        ? QStringLiteral("<p>Package: %1</p><p><button>Pay now</button></p>").arg(packageLine(*package))
        : QStringLiteral("<p class=\"refused\">Unknown package \"%1\".</p>").arg(esc(packageId));
    Page page = signedInPage(QStringLiteral("Checkout"), content, token);
    if (page.status == 200 && !package)
        page.status = 404;
    return page;
}

WebPages::Page WebPages::features(const QString &token) const
{
    return signedInPage(QStringLiteral("Premium features"),
                        QStringLiteral("<ul><li>Every server in every country</li><li>Streaming and gaming "
                                       "servers</li><li>Ad blocking</li></ul>"),
                        token);
}

WebPages::Page WebPages::offer(const QString &token) const
{
    return signedInPage(QStringLiteral("Special offer"),
                        QStringLiteral("<p>Upgrade today and get the first month at half price.</p>"), token);
}

WebPages::Page WebPages::pricing() const
{
    QString rows;
    const QStringList cells = catalogue_.decisionData.split(QRegularExpression(QStringLiteral("~~|,")));
    for (int i = 0; i + 2 < cells.size(); i += 3)
        rows += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td></tr>")
                    .arg(esc(cells.at(i)), esc(cells.at(i + 1)), esc(cells.at(i + 2)));
    QString packages;
    for (const QJsonValue &p : catalogue_.packages)
        packages += QStringLiteral("<li>%1</li>").arg(packageLine(p.toObject()));
    return Page{200, document(QStringLiteral("Pricing"), QStringLiteral("public"),
                              QStringLiteral("<table>%1</table><ul>%2</ul>").arg(rows, packages))};
}

} // namespace Varnel::RefBackend
