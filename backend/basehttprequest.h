#pragma once

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

namespace Varnel {

// Blocking HTTP client of the backend. A call waits for its reply in a nested
// event loop (GUI events keep flowing, so the caller makes its page inert) and
// gives the body plus a status code:
//   the HTTP status when the server answered (200, 403, 422, ...),
//   -1 when the URL string is not a valid URL (nothing is sent),
//   -2 when the transfer failed without an HTTP status (no connection, DNS,
//      TLS verification, or no complete answer within the timeout).
// Certificates are verified (system store plus VARNELVPN_CA_FILE).
class BaseHttpRequest : public QObject
{
    Q_OBJECT
public:
    explicit BaseHttpRequest(QObject *parent = nullptr);

    QByteArray get(const QString &url, int &status);
    // Form POST; the extra headers are added as raw headers in key order.
    QByteArray post(const QString &url, const QByteArray &body, int &status,
                    const QMap<QString, QString> &headers);

    // Bound of one request in milliseconds (default: BackendConfig).
    int timeout() const { return m_timeoutMs; }
    void setTimeout(int ms) { m_timeoutMs = ms; }

private:
    QNetworkRequest makeRequest(const QUrl &url) const;
    // Runs the nested loop until the reply finishes or the timeout aborts it;
    // true when it timed out.
    bool waitFor(QNetworkReply *reply);
    // Logs the two "Network error" lines and returns the status code.
    int failureStatus(QNetworkReply *reply, bool timedOut) const;

    QNetworkAccessManager *m_manager;
    int m_timeoutMs;
};

} // namespace Varnel
