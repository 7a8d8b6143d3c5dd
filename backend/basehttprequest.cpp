#include "backend/basehttprequest.h"

#include "backend/backendconfig.h"
#include "common/logger.h"

#include <QDebug>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

namespace Varnel {

namespace {

int httpStatus(const QNetworkReply *reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

} // namespace

BaseHttpRequest::BaseHttpRequest(QObject *parent)
    : QObject(parent)
    , m_manager(new QNetworkAccessManager(this))
    , m_timeoutMs(BackendConfig::httpTimeoutMs())
{
}

QNetworkRequest BaseHttpRequest::makeRequest(const QUrl &url) const
{
    QNetworkRequest request(url);
    request.setSslConfiguration(BackendConfig::sslConfiguration());
    return request;
}

bool BaseHttpRequest::waitFor(QNetworkReply *reply)
{
    bool timedOut = false;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    // A backend that never answers must not freeze the window for good.
    connect(&deadline, &QTimer::timeout, reply, [reply, &timedOut] {
        timedOut = true;
        reply->abort();
    });
    if (!reply->isFinished()) {
        deadline.start(m_timeoutMs);
        loop.exec();
    }
    return timedOut;
}

int BaseHttpRequest::failureStatus(QNetworkReply *reply, bool timedOut) const
{
    const QString reason = timedOut
        ? tr("no complete answer within %1 ms").arg(m_timeoutMs)
        : reply->errorString();
    Logger::instance().log(tr("Network error : code - ") + QString::number(reply->error()), 1, 4);
    Logger::instance().log(tr("Network error : reason - ") + reason, 1, 4);
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    return status.isValid() ? status.toInt() : -2;
}

QByteArray BaseHttpRequest::get(const QString &url, int &status)
{
    const QUrl target(url, QUrl::TolerantMode);
    if (!target.isValid()) {
        status = -1;
        return QByteArray();
    }

    QNetworkReply *reply = m_manager->get(makeRequest(target));
    const bool timedOut = waitFor(reply);
    reply->deleteLater();

    if (reply->error() != QNetworkReply::NoError) {
        status = failureStatus(reply, timedOut);
        return QByteArray();
    }
    status = httpStatus(reply);
    return reply->readAll();
}

QByteArray BaseHttpRequest::post(const QString &url, const QByteArray &body, int &status,
                                 const QMap<QString, QString> &headers)
{
    const QUrl target(url, QUrl::TolerantMode);
    if (!target.isValid()) {
        status = -1;
        return QByteArray();
    }

    QNetworkRequest request = makeRequest(target);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("application/x-www-form-urlencoded"));
    for (auto it = headers.cbegin(); it != headers.cend(); ++it)
        request.setRawHeader(it.key().toUtf8(), it.value().toUtf8());

    // A manager of its own per POST, so no cookie or connection state carries
    // over between operations; released with its reply once read.
    auto *manager = new QNetworkAccessManager(this);
    QNetworkReply *reply = manager->post(request, body);
    const bool timedOut = waitFor(reply);
    manager->deleteLater();

    qDebug() << "reply->error()::::::::" << reply->error();
    if (reply->error() != QNetworkReply::NoError) {
        qDebug() << "network error.............................";
        status = failureStatus(reply, timedOut);
        qDebug() << "occurs login  status code::::::::;"
                 << reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        return reply->readAll();
    }
    // Neither the body nor the headers go to any output: they carry the
    // account's data (a login reply deciphers with a key in this program).
    status = httpStatus(reply);
    return reply->readAll();
}

} // namespace Varnel
