#include "refbackendprocess.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QTimer>
#include <QUrlQuery>

namespace {

constexpr int kStartTimeoutMs = 20000;
constexpr int kControlTimeoutMs = 10000;

} // namespace

RefBackendProcess::RefBackendProcess() = default;

RefBackendProcess::~RefBackendProcess()
{
    stop();
}

QString RefBackendProcess::caFile() const
{
    return m_certs.filePath(QStringLiteral("ca.crt"));
}

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

    m_process.setProgram(QStringLiteral(VARNEL_REFBACKEND));
    m_process.setArguments(QStringList{QStringLiteral("--port"), QStringLiteral("0"),
                                       QStringLiteral("--cert-dir"), m_certs.path(),
                                       QStringLiteral("--data"), QStringLiteral(VARNEL_BACKEND_TEST_DATA)}
                           + extraArguments);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start();
    if (!m_process.waitForStarted(kStartTimeoutMs)) {
        m_error = m_process.errorString();
        return false;
    }

    static const QRegularExpression listening(QStringLiteral("^listening on (https?://127\\.0\\.0\\.1:\\d+)"));
    const QDeadlineTimer deadline(kStartTimeoutMs);
    while (!deadline.hasExpired()) {
        while (m_process.canReadLine()) {
            const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
            const QRegularExpressionMatch match = listening.match(line);
            if (match.hasMatch()) {
                m_baseUrl = match.captured(1);
                return true;
            }
        }
        if (m_process.state() != QProcess::Running) {
            m_error = QStringLiteral("the reference backend exited with %1").arg(m_process.exitCode());
            return false;
        }
        m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    m_error = QStringLiteral("no \"listening on\" line from the reference backend");
    stop();
    return false;
}

void RefBackendProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QByteArray RefBackendProcess::control(const QString &pathAndQuery, const QByteArray &postBody, bool post,
                                      int *status)
{
    return send(QUrl(m_baseUrl + QStringLiteral("/_control/") + pathAndQuery), postBody, post, status);
}

QByteArray RefBackendProcess::fetch(const QUrl &url, int *status)
{
    return send(url, {}, false, status);
}

QByteArray RefBackendProcess::send(const QUrl &url, const QByteArray &postBody, bool post, int *status)
{
    QNetworkRequest request(url);
    request.setSslConfiguration(m_ssl);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    QNetworkReply *reply = post ? m_manager.post(request, postBody) : m_manager.get(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(kControlTimeoutMs, reply, &QNetworkReply::abort);
    if (!reply->isFinished())
        loop.exec();
    if (status)
        *status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    return body;
}

QJsonObject RefBackendProcess::counts()
{
    return QJsonDocument::fromJson(control(QStringLiteral("counts"), {}, false)).object();
}

int RefBackendProcess::count(const QString &path)
{
    return counts().value(path).toInt();
}

int RefBackendProcess::totalCount()
{
    int total = 0;
    for (const QJsonValue &v : counts())
        total += v.toInt();
    return total;
}

QJsonObject RefBackendProcess::last(const QString &path)
{
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("path"), path);
    return QJsonDocument::fromJson(control(QStringLiteral("last?") + query.query(QUrl::FullyEncoded), {}, false))
        .object();
}

bool RefBackendProcess::setFault(const QString &path, const QString &mode, int delayMs, int times)
{
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("path"), path);
    form.addQueryItem(QStringLiteral("mode"), mode);
    form.addQueryItem(QStringLiteral("delay_ms"), QString::number(delayMs));
    form.addQueryItem(QStringLiteral("times"), QString::number(times));
    int status = 0;
    control(QStringLiteral("fault"), form.query(QUrl::FullyEncoded).toUtf8(), true, &status);
    return status == 200;
}

bool RefBackendProcess::reset()
{
    int status = 0;
    control(QStringLiteral("reset"), QByteArrayLiteral("scope=all"), true, &status);
    return status == 200;
}

QJsonObject RefBackendProcess::account(const QString &username)
{
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("username"), username);
    return QJsonDocument::fromJson(control(QStringLiteral("account?") + query.query(QUrl::FullyEncoded), {}, false))
        .object();
}
