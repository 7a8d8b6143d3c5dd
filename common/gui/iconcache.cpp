#include "common/gui/iconcache.h"

#include "common/art/catalogue.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QLabel>
#include <QPainter>
#include <QPixmapCache>
#include <QStyle>
#include <QStyleOption>
#include <QTransform>

#include <cmath>

namespace Varnel {

namespace {

const QLatin1String kOwnPictures(":/img/");

const Art::Catalogue::Entry *ownPicture(const QString &path)
{
    if (!path.startsWith(kOwnPictures))
        return nullptr;
    return Art::Catalogue::compiledIn().find(path.mid(kOwnPictures.size()));
}

QSize devicePixels(const QSize &size, qreal ratio)
{
    return QSize(qMax(1, qRound(size.width() * ratio)), qMax(1, qRound(size.height() * ratio)));
}

// size (widget pixels) drawn at the ratio: an own picture from its drawings,
// any other from its bitmap; turned by a multiple of 90 degrees afterwards,
// which moves pixels without blurring them.
qint64 drawingNs = 0;

QPixmap makePicture(const QString &path, const QSize &size, int rotation, qreal ratio)
{
    QElapsedTimer clock;
    clock.start();
    struct Count {
        QElapsedTimer &clock;
        ~Count() { drawingNs += clock.nsecsElapsed(); }
    } count{clock};
    const QSize pixels = devicePixels(size, ratio);
    QImage image;
    if (const Art::Catalogue::Entry *entry = ownPicture(path))
        image = Art::Catalogue::compiledIn().render(*entry, pixels);
    else
        image = sourcePicture(path).scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (image.isNull())
        return QPixmap();
    if (rotation != 0)
        image = image.transformed(QTransform().rotate(rotation), Qt::FastTransformation);
    // Handed over, not copied: a window background is megabytes.
    QPixmap pixmap = QPixmap::fromImage(std::move(image));
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

// The natural size of a picture: the listed one for ours, the bitmap's otherwise.
QSize naturalSize(const QString &path)
{
    if (const Art::Catalogue::Entry *entry = ownPicture(path))
        return entry->size;
    static QHash<QString, QSize> sizes;
    auto it = sizes.find(path);
    if (it == sizes.end()) {
        const QImage image = sourcePicture(path);
        const qreal ratio = image.devicePixelRatio();
        it = sizes.insert(path, QSize(qRound(image.width() / ratio), qRound(image.height() / ratio)));
    }
    return *it;
}

template<typename SizeOf>
QPixmap cached(const QString &path, const QString &what, int rotation, SizeOf size)
{
    const qreal ratio = pictureRatio();
    const QString key = QStringLiteral("varnel:%1@%2r%3x%4").arg(path, what).arg(rotation).arg(ratio);
    QPixmap pixmap;
    if (QPixmapCache::find(key, &pixmap))
        return pixmap;
    const QSize natural = naturalSize(path);
    if (!natural.isEmpty())
        pixmap = makePicture(path, size(natural), rotation, ratio);
    QPixmapCache::insert(key, pixmap);
    return pixmap;
}

// An icon of one of our pictures, drawn at whatever size and pixel ratio it
// is asked for.
class DrawnIconEngine : public QIconEngine
{
public:
    explicit DrawnIconEngine(const QString &path) : m_path(path) {}

    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        const Art::Catalogue::Entry *entry = ownPicture(m_path);
        return entry ? entry->size.scaled(size, Qt::KeepAspectRatio) : QSize();
    }

    // size is in pixels: QIcon multiplies by the pixel ratio before asking.
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        const QSize pixels = actualSize(size, mode, state);
        if (pixels.isEmpty())
            return QPixmap();
        const QString key = QStringLiteral("varnel-icon:%1@%2x%3m%4").arg(m_path).arg(pixels.width()).arg(pixels.height()).arg(int(mode));
        QPixmap pixmap;
        if (QPixmapCache::find(key, &pixmap))
            return pixmap;
        pixmap = makePicture(m_path, pixels, 0, 1.0);
        if (mode != QIcon::Normal && mode != QIcon::Active && qobject_cast<QApplication *>(qApp)) {
            QStyleOption option;
            option.palette = QGuiApplication::palette();
            pixmap = QApplication::style()->generatedIconPixmap(mode, pixmap, &option);
        }
        QPixmapCache::insert(key, pixmap);
        return pixmap;
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal ratio = painter->device()->devicePixelRatioF();
        QPixmap drawn = pixmap(devicePixels(rect.size(), ratio), mode, state);
        drawn.setDevicePixelRatio(ratio);
        const QSize shown = drawn.size() / ratio;
        painter->drawPixmap(QRect(rect.topLeft() + QPoint((rect.width() - shown.width()) / 2,
                                                          (rect.height() - shown.height()) / 2),
                                  shown),
                            drawn);
    }

    QIconEngine *clone() const override { return new DrawnIconEngine(m_path); }
    QString key() const override { return QStringLiteral("varnel-drawn"); }

private:
    QString m_path;
};

// The picture a hidden label shows once it is shown; the last one asked for.
class PendingPicture : public QObject
{
public:
    static void set(QLabel *label, const QString &path, const QSize &box)
    {
        auto *pending = label->findChild<PendingPicture *>(QString(), Qt::FindDirectChildrenOnly);
        if (!pending)
            pending = new PendingPicture(label);
        pending->m_path = path;
        pending->m_box = box;
    }

    static void drop(QLabel *label)
    {
        delete label->findChild<PendingPicture *>(QString(), Qt::FindDirectChildrenOnly);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            auto *label = static_cast<QLabel *>(watched);
            label->removeEventFilter(this);
            setParent(nullptr);
            deleteLater();
            label->setPixmap(cachedPicture(m_path, m_box));
        }
        return false;
    }

private:
    explicit PendingPicture(QLabel *label) : QObject(label) { label->installEventFilter(this); }

    QString m_path;
    QSize m_box;
};

} // namespace

qint64 pictureDrawingNs()
{
    return drawingNs;
}

qreal pictureRatio()
{
    return qApp ? qApp->devicePixelRatio() : 1.0;
}

QPixmap cachedPicture(const QString &path, const QSize &box, int rotation)
{
    return cached(path, QStringLiteral("%1x%2").arg(box.width()).arg(box.height()), rotation,
                  [&](const QSize &natural) { return natural.scaled(box, Qt::KeepAspectRatio); });
}

void showPicture(QLabel *label, const QString &path, const QSize &box)
{
    if (label->isVisible()) {
        PendingPicture::drop(label);
        label->setPixmap(cachedPicture(path, box));
    } else {
        PendingPicture::set(label, path, box);
    }
}

QPixmap cachedPictureOfHeight(const QString &path, int height)
{
    return cached(path, QStringLiteral("h%1").arg(height), 0, [&](const QSize &natural) {
        return QSize(qMax(1, qRound(qreal(natural.width()) * height / natural.height())), height);
    });
}

QIcon cachedIcon(const QString &path, bool isMask)
{
    static QHash<QString, QIcon> icons;
    const QString key = isMask ? QStringLiteral("mask:") + path : path;
    auto found = icons.constFind(key);
    if (found != icons.constEnd())
        return *found;
    QIcon icon = ownPicture(path) ? QIcon(new DrawnIconEngine(path)) : QIcon(path);
    icon.setIsMask(isMask);
    icons.insert(key, icon);
    return icon;
}

QPixmap uncachedPicture(const QString &path, const QSize &size)
{
    return makePicture(path, size, 0, pictureRatio());
}

namespace {

// Rows of pixels drawn per step: a fraction of a millisecond each.
constexpr int kStepRows = 64;

} // namespace

SteppedPicture::SteppedPicture(const QString &path, const QSize &size, QObject *parent)
    : QObject(parent)
    , m_path(path)
    , m_size(size)
    , m_ratio(pictureRatio())
{
    if (ownPicture(path)) {
        m_image = QImage(devicePixels(size, m_ratio), QImage::Format_ARGB32_Premultiplied);
        m_timer.setInterval(0);
        connect(&m_timer, &QTimer::timeout, this, &SteppedPicture::step);
        m_timer.start();
    }
}

void SteppedPicture::step()
{
    const Art::Catalogue::Entry *entry = ownPicture(m_path);
    if (!entry || m_next >= m_image.height()) {
        m_timer.stop();
        return;
    }
    const int rows = qMin(kStepRows, m_image.height() - m_next);
    Art::Catalogue::compiledIn().renderPart(*entry, &m_image, QRect(0, m_next, m_image.width(), rows));
    m_next += rows;
}

QPixmap SteppedPicture::finish()
{
    if (m_image.isNull())
        return uncachedPicture(m_path, m_size);
    while (m_next < m_image.height())
        step();
    m_timer.stop();
    QPixmap pixmap = QPixmap::fromImage(std::move(m_image));
    pixmap.setDevicePixelRatio(m_ratio);
    m_image = QImage();
    return pixmap;
}

QImage sourcePicture(const QString &path)
{
    if (pictureRatio() > 1.0) {
        // A name without extension leaves the suffix to the image loader.
        const int dot = path.lastIndexOf(QLatin1Char('.'));
        const bool hasSuffix = dot > path.lastIndexOf(QLatin1Char('/'));
        const QString larger = hasSuffix ? path.left(dot) + QStringLiteral("@2x") + path.mid(dot)
                                         : path + QStringLiteral("@2x");
        QImage image(larger);
        if (!image.isNull())
            return image;
    }
    return QImage(path);
}

QPixmap fittedPicture(const QImage &image, const QSize &box)
{
    if (image.isNull() || box.isEmpty())
        return QPixmap();
    const qreal ratio = pictureRatio();
    QPixmap pixmap = QPixmap::fromImage(
        image.scaled(devicePixels(box, ratio), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

} // namespace Varnel
