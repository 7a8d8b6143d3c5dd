#include "pictures.h"

#include <QBuffer>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace Varnel::RefBackend {

namespace {

// A shield with a check mark, the product's emblem, in white.
void drawShield(QPainter &painter, const QRectF &box)
{
    const qreal w = box.width();
    const qreal h = box.height();
    QPainterPath shield;
    shield.moveTo(box.left() + w / 2, box.top());
    shield.lineTo(box.right(), box.top() + h * 0.18);
    shield.cubicTo(box.right(), box.top() + h * 0.62, box.left() + w * 0.78, box.top() + h * 0.86,
                   box.left() + w / 2, box.bottom());
    shield.cubicTo(box.left() + w * 0.22, box.top() + h * 0.86, box.left(), box.top() + h * 0.62, box.left(),
                   box.top() + h * 0.18);
    shield.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 235));
    painter.drawPath(shield);
    QPen tick(QColor(0xBF, 0x1E, 0x2E), w * 0.1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(tick);
    painter.setBrush(Qt::NoBrush);
    const QPointF tickPoints[] = {QPointF(box.left() + w * 0.3, box.top() + h * 0.5),
                                  QPointF(box.left() + w * 0.45, box.top() + h * 0.64),
                                  QPointF(box.left() + w * 0.72, box.top() + h * 0.36)};
    painter.drawPolyline(tickPoints, 3);
}

// Rounded white bars standing in for lines of text.
void drawLines(QPainter &painter, qreal x, qreal y, const QList<qreal> &widths, qreal height)
{
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < widths.size(); ++i) {
        painter.setBrush(QColor(255, 255, 255, i == 0 ? 240 : 170));
        painter.drawRoundedRect(QRectF(x, y, widths.at(i), i == 0 ? height * 1.4 : height), height / 2,
                                height / 2);
        y += (i == 0 ? height * 1.4 : height) + height * 0.8;
    }
}

QByteArray png(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace

Pictures::Pictures()
    : banner_(render(QSize(720, 160), QColor(0xBF, 0x1E, 0x2E), QColor(0x43, 0x43, 0x43)))
    , features_(render(QSize(480, 270), QColor(255, 159, 81), QColor(0xBF, 0x1E, 0x2E)))
{
}

QByteArray Pictures::render(const QSize &size, const QColor &from, const QColor &to)
{
    QImage image(size, QImage::Format_ARGB32);
    QLinearGradient gradient(0, 0, size.width(), size.height());
    gradient.setColorAt(0, from);
    gradient.setColorAt(1, to);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(image.rect(), gradient);
    const qreal h = size.height();
    const qreal w = size.width();
    if (w > 2 * h) {
        // A banner: the emblem on the left, a headline and a line of text.
        drawShield(painter, QRectF(h * 0.22, h * 0.16, h * 0.56, h * 0.68));
        drawLines(painter, h * 0.98, h * 0.3, {w * 0.42, w * 0.3}, h * 0.11);
    } else {
        // A feature picture: the emblem over three feature lines.
        drawShield(painter, QRectF(w * 0.08, h * 0.2, h * 0.46, h * 0.56));
        drawLines(painter, w * 0.42, h * 0.26, {w * 0.44, w * 0.36, w * 0.4, w * 0.3}, h * 0.07);
    }
    painter.end();
    return png(image);
}

} // namespace Varnel::RefBackend
