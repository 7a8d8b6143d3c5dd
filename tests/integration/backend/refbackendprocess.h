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
    RefBackendProcess();
    ~RefBackendProcess();
    RefBackendProcess(const RefBackendProcess &) = delete;
    RefBackendProcess &operator=(const RefBackendProcess &) = delete;

    // Makes fresh certificates and starts the server on a free port with the
    // test data set; false (with errorText()) when it did not come up.
    bool start(const QStringList &extraArguments = {});
    void stop();
    QString errorText() const { return m_error; }

    QString baseUrl() const { return m_baseUrl; }
    // The CA that signed the server certificate (not the rogue one).
    QString caFile() const;

    // Requests seen per path since the last reset.
    int count(const QString &path);
    int totalCount();
    // The last request on a path: method, path, body, form [[name, value]...], headers.
    QJsonObject last(const QString &path);
    // mode: none, delay, status500, notjson, close; path "*" for every path.
    bool setFault(const QString &path, const QString &mode, int delayMs = 0, int times = 0);
    // Counts, faults and account state back to the start.
    bool reset();
    QJsonObject account(const QString &username);
    // A plain GET of any address of the server (web pages).
    QByteArray fetch(const QUrl &url, int *status);

private:
    QJsonObject counts();
    QByteArray control(const QString &pathAndQuery, const QByteArray &postBody, bool post,
                       int *status = nullptr);
    QByteArray send(const QUrl &url, const QByteArray &postBody, bool post, int *status);

    QTemporaryDir m_certs;
    QProcess m_process;
    QString m_baseUrl;
    QString m_error;
    QNetworkAccessManager m_manager;
    QSslConfiguration m_ssl;
};
