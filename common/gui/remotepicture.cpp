#include "common/gui/remotepicture.h"

#include "backend/backendconfig.h"
#include "common/logger.h"

#include <QBuffer>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkReply>

namespace Varnel {

RemotePicture::RemotePicture(QObject *parent)
    : QObject(parent)
{
}

void RemotePicture::fetch(const QUrl &url)
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
    if (url.isEmpty())
        return;
    // Made at the first picture: a network manager is dear to set up.
    if (!m_network)
        m_network = new QNetworkAccessManager(this);

    QNetworkRequest request = BackendConfig::boundedRequest(url);
    // Picture hosts move files around; never from https to http.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply *reply = m_network->get(request);
    m_reply = reply;
    m_refusal.clear();
    // Stop at the announced size, or as soon as more arrives than allowed.
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (announced > kMaxBytes)
            refuse(reply, tr("it is %1 bytes, more than %2").arg(announced).arg(kMaxBytes));
    });
    connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64 received) {
        if (received > kMaxBytes)
            refuse(reply, tr("it is more than %1 bytes").arg(kMaxBytes));
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { finished(reply); });
}

void RemotePicture::refuse(QNetworkReply *reply, const QString &reason)
{
    if (!m_refusal.isEmpty())
        return;
    m_refusal = reason;
    reply->abort();   // finished() follows and logs the reason
}

void RemotePicture::finished(QNetworkReply *reply)
{
    reply->deleteLater();
    if (reply == m_reply)
        m_reply = nullptr;

    QString reason = m_refusal;
    QImage picture;
    if (reason.isEmpty() && reply->error() != QNetworkReply::NoError)
        reason = reply->errorString();
    if (reason.isEmpty())
        picture = decode(reply->readAll(), &reason);
    if (picture.isNull()) {
        Logger::instance().log(tr("Picture %1 not shown: %2").arg(reply->url().toString(), reason), 1, 4);
        return;
    }
    emit arrived(picture);
}

QImage RemotePicture::decode(const QByteArray &body, QString *reason) const
{
    QBuffer buffer;
    buffer.setData(body);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // The header names the size: a small file can still unpack to a huge image.
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() > kMaxPixels) {
        *reason = tr("its %1 x %2 pixels are too many").arg(size.width()).arg(size.height());
        return QImage();
    }
    const QImage picture = reader.read();
    if (picture.isNull())
        *reason = tr("not a picture (%1)").arg(reader.errorString());
    return picture;
}

} // namespace Varnel
