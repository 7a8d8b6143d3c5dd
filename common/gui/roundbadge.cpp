#include "common/gui/roundbadge.h"

#include <QPainter>

namespace Varnel {

QPixmap roundBadge(const QImage &picture, int height)
{
    const QImage argb = picture.convertToFormat(QImage::Format_ARGB32);
    const int side = qMin(argb.width(), argb.height());
    if (side <= 0 || height <= 0)
        return QPixmap();
    const QImage square = argb.copy((argb.width() - side) / 2, (argb.height() - side) / 2, side, side);

    QImage disc(side, side, QImage::Format_ARGB32_Premultiplied);
    disc.fill(Qt::transparent);
    QPainter painter(&disc);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QBrush(square));
    painter.drawEllipse(QRectF(0, 0, side, side));
    painter.end();

    return QPixmap::fromImage(disc.scaledToHeight(height, Qt::SmoothTransformation));
}

} // namespace Varnel
