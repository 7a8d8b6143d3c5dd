#pragma once

#include "backend/vpncredentials.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace Varnel {

// The provider's web pages (checkout, features, banner) recognise the account
// by an "authToken" query item: the compact JSON of the credentials, this
// machine's id and an expiry thirty minutes ahead, enciphered with the
// web-page key. Opening the address is the caller's job.

// The token for the given moment (milliseconds since the epoch).
QString authToken(const VpnCredentials &credentials, const QByteArray &udid, qint64 nowMs,
                  const QString &key);

// The address carrying the token: after its own query items when keepQuery,
// else as the only query item.
QUrl withAuthToken(const QUrl &address, const QString &token, bool keepQuery);

// A page address (features link, banner link) with its own query kept,
// for the engine's credentials, this machine and the current time.
QUrl webPageUrl(const QString &address, const QString &key);

// The checkout page of a package: portal + "/checkout/" + package id, with
// the token as its only query item.
QUrl checkoutUrl(const QString &portalUrl, const QString &packageId, const QString &key);

} // namespace Varnel
