#include "refbackendprocess.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QSslCertificate>
#include <QTimer>
#include <QUrlQuery>

bool RefBackendProcess::start(const QStringList &extraArguments)
{
    QProcess certs;
    certs.start(QStringLiteral("bash"), {QStringLiteral(VARNEL_MAKE_CERTS), m_certs.path()});
    if (!certs.waitForFinished(30000) || certs.exitCode() != 0) {
        m_error = QStringLiteral("make-certs.sh failed: ") + QString::fromLocal8Bit(certs.readAllStandardError());
        return false;
    }
    m_ssl = QSslConfiguration::defaultConfiguration();
    // The controls also reach a server started with the rogue certificate.
    m_ssl.setCaCertificates(QSslCertificate::fromPath(m_certs.filePath(QStringLiteral("*ca.crt")), QSsl::Pem,
                                                      QSslCertificate::PatternSyntax::Wildcard));

    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(VARNEL_REFBACKEND),
                    QStringList{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--cert-dir"),
                                m_certs.path(), QStringLiteral("--data"), QStringLiteral(VARNEL_BACKEND_TEST_DATA)}
                        + extraArguments);
    const QByteArray listening("listening on ");
    const QDeadlineTimer deadline(20000);
    while (m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
        while (m_process.canReadLine()) {
            const QByteArray line = m_process.readLine().trimmed();
            if (line.startsWith(listening)) {
                m_baseUrl = QString::fromUtf8(line.mid(listening.size()));
                return true;
            }
        }
    }
    m_error = QStringLiteral("no \"listening on\" line from the reference backend: ") + m_process.errorString();
    stop();
    return false;
}

void RefBackendProcess::stop()
{
    m_process.terminate();
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QByteArray RefBackendProcess::fetch(const QUrl &url, int *status, const QByteArray *postBody)
{
    QNetworkRequest request(url);
    request.setSslConfiguration(m_ssl);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    QNetworkReply *reply = postBody ? m_manager.post(request, *postBody) : m_manager.get(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, reply, &QNetworkReply::abort);
    if (!reply->isFinished())
        loop.exec();
    if (status)
        *status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    return body;
}

QJsonObject RefBackendProcess::control(const QString &name, const QList<QPair<QString, QString>> &fields, bool post,
                                       int *status)
{
    QUrlQuery query;
    query.setQueryItems(fields);
    QUrl url(m_baseUrl + QStringLiteral("/_control/") + name);
    const QByteArray form = query.query(QUrl::FullyEncoded).toUtf8();
    if (!post)
        url.setQuery(query);
    return QJsonDocument::fromJson(fetch(url, status, post ? &form : nullptr)).object();
}

int RefBackendProcess::totalCount()
{
    int total = 0;
    for (const QJsonValue &count : control(QStringLiteral("counts")))
        total += count.toInt();
    return total;
}

bool RefBackendProcess::setFault(const QString &path, const QString &mode, int delayMs, int times)
{
    int status = 0;
    control(QStringLiteral("fault"), {{"path", path}, {"mode", mode}, {"delay_ms", QString::number(delayMs)},
                                      {"times", QString::number(times)}}, true, &status);
    return status == 200;
}

bool RefBackendProcess::reset()
{
    int status = 0;
    control(QStringLiteral("reset"), {{"scope", "all"}}, true, &status);
    return status == 200;
}
