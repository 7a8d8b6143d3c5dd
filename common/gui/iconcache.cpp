#include "common/gui/iconcache.h"

#include <QHash>
#include <QPixmapCache>
#include <QTransform>

namespace Varnel {

namespace {

template<typename Scale>
QPixmap cached(const QString &key, const QString &path, Scale scale)
{
    QPixmap pixmap;
    if (QPixmapCache::find(key, &pixmap))
        return pixmap;
    pixmap = QPixmap(path);
    if (!pixmap.isNull())
        pixmap = scale(pixmap);
    QPixmapCache::insert(key, pixmap);
    return pixmap;
}

} // namespace

QPixmap cachedPicture(const QString &path, const QSize &box, int rotation)
{
    const QString key = QStringLiteral("varnel:%1@%2x%3r%4").arg(path).arg(box.width()).arg(box.height()).arg(rotation);
    return cached(key, path, [&](const QPixmap &picture) {
        QPixmap scaled = picture.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        if (rotation != 0)
            scaled = scaled.transformed(QTransform().rotate(rotation), Qt::FastTransformation);
        return scaled;
    });
}

QIcon cachedIcon(const QString &path, bool isMask)
{
    static QHash<QString, QIcon> icons;
    const QString key = isMask ? QStringLiteral("mask:") + path : path;
    auto found = icons.constFind(key);
    if (found != icons.constEnd())
        return *found;
    QIcon icon(path);
    icon.setIsMask(isMask);
    icons.insert(key, icon);
    return icon;
}

QPixmap cachedPictureOfHeight(const QString &path, int height)
{
    const QString key = QStringLiteral("varnel:%1@h%2").arg(path).arg(height);
    return cached(key, path, [&](const QPixmap &picture) {
        return picture.scaledToHeight(height, Qt::SmoothTransformation);
    });
}

} // namespace Varnel
