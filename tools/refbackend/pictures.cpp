#include "pictures.h"

#include <QBuffer>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>

namespace Varnel::RefBackend {

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
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillRect(image.rect(), gradient);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(255, 255, 255, 200));
        const int d = size.height() / 2;
        painter.drawEllipse(QRect(d / 2, d / 2, d, d));
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

} // namespace Varnel::RefBackend
