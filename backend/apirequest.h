#pragma once

#include "backend/basehttprequest.h"
#include "backend/endpoints.h"

#include <QJsonDocument>
#include <QString>
#include <QUrlQuery>

#include <memory>

namespace Varnel {

// The backend client. Each operation blocks (see BaseHttpRequest), returns a
// small result code and leaves the text for the user in message(). The
// program uses the one process-wide client of instance(); a client made apart
// from it starts with an empty endpoint table, like a new process.
// GUI thread only.
class ApiRequest : public BaseHttpRequest
{
    Q_OBJECT
public:
    explicit ApiRequest(QObject *parent = nullptr);

    static std::shared_ptr<ApiRequest> instance();

    // The server's "message" of the last reply that carried one, or a
    // client-side text; kept until an operation assigns a new one.
    QString message() const { return m_message; }

    // Loads the endpoint table from the settings and, when an entry other
    // than the redeem-voucher one is missing, fetches the remote data
    // document once and stores it. False when the table cannot be used.
    bool ensureEndpoints();
    void loadEndpoints();
    void saveEndpoints();
    const EndpointTable &endpoints() const { return m_endpoints; }

    // 0 logged in (User filled), 1 refused (message = server's text),
    // 2 the reply or the cache is not a JSON object, 3 no endpoint table.
    // With the auto-login flag set and a filled cache the cache answers and
    // nothing is sent.
    int login(const QString &username, const QString &password);

    // Deciphers a login or logged-devices reply body (ASCII up to the first
    // zero byte) and parses the JSON; null when it is not JSON.
    static QJsonDocument decodeReply(const QByteArray &body);
    // The same, as the reply's JSON text (UTF-8), not parsed.
    static QByteArray decodeReplyText(const QByteArray &body);
    // Steps of login after the reply is known: checks it, fills User and
    // builds the server list. Returns the login result code.
    int applyLoginReply(const QJsonDocument &reply);

    // 0 accepted (message = server's text), 1 not sent or no usable answer,
    // 2 no endpoint table, 3 refused.
    int signUp(const QString &username, const QString &password, const QString &promotion,
               const QString &subscriptionCode);
    int forgotPassword(const QString &username);

    // Newsletter; uses the subscribe endpoint as it is (no fetch).
    // 0 subscribed, 1 empty address, 2 invalid URL, 3 no connection,
    // 4 refused or unreadable.
    int subscribe(const QString &email);
    // 0 redeemed, 1 empty code (nothing sent), 2 no endpoint table or
    // invalid URL, 3 no connection, 4 refused or unreadable.
    int redeemVoucher(const QString &code);
    // 0 stored in User, 1 no endpoint table, 2 reply not a JSON object,
    // 3 status other than 200 (message = server's text).
    int referInfo();
    // 0 accepted, 1 no endpoint table, 2 reply not a JSON object, 3 refused.
    int referRedeem(const QString &code);
    // 0 list stored in User, 1 no endpoint table, 2 reply not a JSON object,
    // 3 refused.
    int loggedDevices();

private:
    struct Answer;

    Answer send(const QString &url, const QUrlQuery &form,
                const QMap<QString, QString> &headers = {});
    // Form of the account operations: user name, password under the given
    // item name, machine id.
    static QUrlQuery accountForm(const QString &passwordItem);
    // For -1 and -2: logs the failure and sets message; other statuses are
    // left alone.
    void noteNoAnswer(int status, const QString &invalidUrlLog, const QString &invalidUrlMessage,
                      const QString &networkMessage);
    // Shared result rule of the voucher and subscription requests.
    int voucherResult(const Answer &answer, const QString &invalidUrlMessage,
                      const QString &networkMessage);
    // One line saying what a reply of the operation held, without its data.
    static void logReply(const QString &operation, const QJsonObject &reply);
    // What a page shows for an answer that is not the backend's.
    static QString unreadableAnswer();

    QString m_message;
    EndpointTable m_endpoints;
};

} // namespace Varnel
