#pragma once

#include <QString>
#include <QUrl>

namespace Varnel {

// Every web address the information pages and share panels open, in one
// place. The provider's web site is VARNELVPN_WEB_BASE when set (a staging
// or local site), else the provider's own; the social networks' share
// addresses are theirs.
namespace WebLinks {

QString webBase();

// Support: e-mail to the provider's support address (the account's
// contact_email is the user's own address), chat and the help centre.
QUrl supportMail();
QUrl liveChat();
QUrl helpCenter();

// About: the review page, the download page with the newest version, and
// the provider's pages on the social networks.
QUrl review();
QUrl updates();
enum class Network { Facebook, X, Instagram, WhatsApp, Telegram };
QUrl socialPage(Network network);

// The provider's other products, by their short name ("browser", ...).
QUrl product(const QString &name);

// Sharing a referral code: the page a friend signs up on, and the share
// address of each way of sending it.
QUrl referralPage(const QString &referCode);
QUrl shareByMail(const QString &referCode);
QUrl shareOn(Network network, const QString &referCode);

// The network test: a page to download and one to post to, over TLS on the
// provider's two sites (VARNELVPN_DOWNLOAD_PROBE, VARNELVPN_UPLOAD_PROBE),
// and the host to ping (VARNELVPN_PING_TARGET).
QUrl downloadProbe();
QUrl uploadProbe();
QString pingTarget();

} // namespace WebLinks
} // namespace Varnel
