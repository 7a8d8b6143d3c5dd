#pragma once

#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QString>

namespace Varnel {

// Where the backend client goes and whom it trusts. Everything beyond the
// settings store comes from the environment, so a staging or local backend
// can stand in for the provider's without a rebuild:
//   VARNELVPN_API_BASE         base URL of the provider's backend
//   VARNELVPN_CA_FILE          PEM file of an extra CA to trust
//   VARNELVPN_HTTP_TIMEOUT_MS  bound of one request, in milliseconds
namespace BackendConfig {

// Base URL without trailing slash: VARNELVPN_API_BASE, else the provider's.
QString apiBaseUrl();

// The remote data document that lists the operation endpoints.
QString dataEndpointUrl();

// The Cloud Firestore document read by FirebaseHandler. It is served from the
// overridden base when VARNELVPN_API_BASE is set, so a stand-in backend
// answers every request of the client.
QString firestoreDocumentUrl();

// Path of the extra CA bundle, empty when none is configured.
QString extraCaFile();

// Whole-request bound: VARNELVPN_HTTP_TIMEOUT_MS when it is a positive
// number, else 30 000 ms.
int httpTimeoutMs();

// TLS settings of every request: certificates are verified against the
// system store plus the extra CA bundle.
QSslConfiguration sslConfiguration();

// A request to a web address of the provider (probes, pictures) with those
// TLS settings and the whole-request bound.
QNetworkRequest boundedRequest(const QUrl &url);

} // namespace BackendConfig
} // namespace Varnel
