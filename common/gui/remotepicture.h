#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

namespace Varnel {

// One picture from the provider's site, fetched in the background with the
// client's verified TLS set-up and request time limit. A picture that cannot
// be fetched, is larger than the limits or is not a picture is not shown;
// the log says why.
class RemotePicture : public QObject
{
    Q_OBJECT
public:
    // Banners and feature pictures are a few hundred KB at most; anything far
    // beyond is not what the page expects and is not read to the end.
    static constexpr qint64 kMaxBytes = 4 * 1024 * 1024;
    static constexpr qint64 kMaxPixels = 4096LL * 4096LL;

    explicit RemotePicture(QObject *parent = nullptr);

    // Starts fetching; a fetch still under way is abandoned. An empty
    // address fetches nothing.
    void fetch(const QUrl &url);

signals:
    void arrived(const QImage &picture);

private:
    void finished(QNetworkReply *reply);
    void refuse(QNetworkReply *reply, const QString &reason);
    // Decodes the body, or says why it cannot be shown.
    QImage decode(const QByteArray &body, QString *reason) const;

    QNetworkAccessManager *m_network = nullptr;
    QPointer<QNetworkReply> m_reply;
    QString m_refusal;
};

} // namespace Varnel
