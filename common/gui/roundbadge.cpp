#include "common/gui/roundbadge.h"

#include "common/gui/iconcache.h"

#include <QPainter>

namespace Varnel {

QPixmap roundBadge(const QImage &picture, int height)
{
    const QImage argb = picture.convertToFormat(QImage::Format_ARGB32);
    const int side = qMin(argb.width(), argb.height());
    if (side <= 0 || height <= 0)
        return QPixmap();
    // Scaled first and the rim drawn at the screen's pixels, so it stays crisp.
    const qreal ratio = pictureRatio();
    const int pixels = qMax(1, qRound(height * ratio));
    QImage square = argb.copy((argb.width() - side) / 2, (argb.height() - side) / 2, side, side)
                        .scaled(pixels, pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    square.setDevicePixelRatio(1.0);

    QImage disc(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    disc.fill(Qt::transparent);
    QPainter painter(&disc);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QBrush(square));
    painter.drawEllipse(QRectF(0, 0, pixels, pixels));
    painter.end();

    QPixmap badge = QPixmap::fromImage(disc);
    badge.setDevicePixelRatio(ratio);
    return badge;
}

} // namespace Varnel
