#include "common/weblinks.h"

#include <QCoreApplication>
#include <QUrlQuery>

namespace Varnel {
namespace WebLinks {

namespace {

const char kDefaultWebBase[] = "https://www.varnelvpn.com";
const char kSupportMail[] = "support@varnelvpn.com";

QUrl onSite(const QString &path)
{
    return QUrl(webBase() + path);
}

QUrl withQuery(QUrl url, const QList<QPair<QString, QString>> &items)
{
    QUrlQuery query;
    for (const auto &item : items)
        query.addQueryItem(item.first, QString::fromUtf8(QUrl::toPercentEncoding(item.second)));
    url.setQuery(query);
    return url;
}

QString invitation(const QString &referCode)
{
    return QCoreApplication::translate("Varnel::SharePanel",
                                       "Browse privately with VarnelVPN: sign up with my code %1 and we both get "
                                       "premium days. %2")
        .arg(referCode, referralPage(referCode).toString());
}

QString setting(const char *variable, const char *fallback)
{
    const QString value = qEnvironmentVariable(variable).trimmed();
    return value.isEmpty() ? QString::fromLatin1(fallback) : value;
}

} // namespace

QUrl downloadProbe()
{
    return QUrl(setting("VARNELVPN_DOWNLOAD_PROBE", "https://www.varnelvpn.com/"));
}

QUrl uploadProbe()
{
    return QUrl(setting("VARNELVPN_UPLOAD_PROBE", "https://www.morvanta.com/"));
}

QString pingTarget()
{
    return setting("VARNELVPN_PING_TARGET", "104.21.11.65");
}

QString webBase()
{
    QString base = qEnvironmentVariable("VARNELVPN_WEB_BASE").trimmed();
    if (base.isEmpty())
        base = QString::fromLatin1(kDefaultWebBase);
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base;
}

QUrl supportMail()
{
    return withQuery(QUrl(QStringLiteral("mailto:") + QLatin1String(kSupportMail)),
                     {{QStringLiteral("subject"), QStringLiteral("VarnelVPN desktop support")}});
}

QUrl liveChat()
{
    return onSite(QStringLiteral("/support/chat"));
}

QUrl helpCenter()
{
    return onSite(QStringLiteral("/help"));
}

QUrl review()
{
    return onSite(QStringLiteral("/review"));
}

QUrl updates()
{
    return onSite(QStringLiteral("/download"));
}

QUrl socialPage(Network network)
{
    switch (network) {
    case Network::Facebook:
        return QUrl(QStringLiteral("https://www.facebook.com/varnelvpn"));
    case Network::X:
        return QUrl(QStringLiteral("https://x.com/varnelvpn"));
    case Network::Instagram:
        return QUrl(QStringLiteral("https://www.instagram.com/varnelvpn"));
    case Network::WhatsApp:
    case Network::Telegram:
        break;
    }
    return onSite(QStringLiteral("/community"));
}

QUrl product(const QString &name)
{
    return onSite(QStringLiteral("/products/") + name);
}

QUrl referralPage(const QString &referCode)
{
    return withQuery(onSite(QStringLiteral("/signup")), {{QStringLiteral("ref"), referCode}});
}

QUrl shareByMail(const QString &referCode)
{
    return withQuery(QUrl(QStringLiteral("mailto:")),
                     {{QStringLiteral("subject"), QCoreApplication::translate("Varnel::SharePanel",
                                                                              "Try VarnelVPN with my code")},
                      {QStringLiteral("body"), invitation(referCode)}});
}

QUrl shareOn(Network network, const QString &referCode)
{
    const QString page = referralPage(referCode).toString();
    switch (network) {
    case Network::Facebook:
        return withQuery(QUrl(QStringLiteral("https://www.facebook.com/sharer/sharer.php")),
                         {{QStringLiteral("u"), page}});
    case Network::X:
        return withQuery(QUrl(QStringLiteral("https://x.com/intent/post")),
                         {{QStringLiteral("text"), invitation(referCode)}});
    case Network::WhatsApp:
        return withQuery(QUrl(QStringLiteral("https://wa.me/")), {{QStringLiteral("text"), invitation(referCode)}});
    case Network::Telegram:
        return withQuery(QUrl(QStringLiteral("https://t.me/share/url")),
                         {{QStringLiteral("url"), page}, {QStringLiteral("text"), invitation(referCode)}});
    case Network::Instagram:
        break;
    }
    return referralPage(referCode);
}

} // namespace WebLinks
} // namespace Varnel
