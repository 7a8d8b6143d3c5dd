#pragma once

#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The reference backend as a child process on 127.0.0.1 with TLS material of
// its own, plus its test controls (request counts, last request, faults,
// state reset). The controls are reached with a network manager of the
// fixture's own, never through the client under test.
class RefBackendProcess
{
public:
    ~RefBackendProcess() { stop(); }

    // Makes fresh certificates and starts the server on a free port with the
    // test data set; false (with errorText()) when it did not come up.
    bool start(const QStringList &extraArguments = {});
    void stop();
    QString errorText() const { return m_error; }

    QString baseUrl() const { return m_baseUrl; }
    // The CA that signed the server certificate (not the rogue one).
    QString caFile() const { return m_certs.filePath(QStringLiteral("ca.crt")); }

    // Requests seen on a path, and on all paths, since the last reset.
    int count(const QString &path) { return control(QStringLiteral("counts")).value(path).toInt(); }
    int totalCount();
    // The last request on a path: method, path, body, form [[name, value]...], headers.
    QJsonObject last(const QString &path) { return control(QStringLiteral("last"), {{"path", path}}); }
    // mode: none, delay, status500, notjson, close; path "*" for every path.
    bool setFault(const QString &path, const QString &mode, int delayMs = 0, int times = 0);
    // Counts, faults and account state back to the start.
    bool reset();
    QJsonObject account(const QString &username) { return control(QStringLiteral("account"), {{"username", username}}); }
    // Any address of the server (web pages): a GET, or a POST of postBody.
    QByteArray fetch(const QUrl &url, int *status, const QByteArray *postBody = nullptr);

private:
    // A control: GET with the fields in the query, or POST with them as the form.
    QJsonObject control(const QString &name, const QList<QPair<QString, QString>> &fields = {}, bool post = false,
                        int *status = nullptr);

    QTemporaryDir m_certs;
    QProcess m_process;
    QString m_baseUrl;
    QString m_error;
    QNetworkAccessManager m_manager;
    QSslConfiguration m_ssl;
};
