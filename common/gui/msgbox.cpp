#include "common/gui/msgbox.h"

#include <QPainter>
#include <QStyle>

namespace Varnel {

MsgBox::MsgBox(QWidget *parent)
    : QMessageBox(parent)
{
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint);
    setAttribute(Qt::WA_TranslucentBackground);
}

void MsgBox::setRadius(qreal radius)
{
    m_radius = radius;
    update();
}

void MsgBox::setBorderWidth(qreal width)
{
    m_borderWidth = width;
    update();
}

void MsgBox::paintEvent(QPaintEvent *)
{
    const qreal width = m_borderWidth >= 0
        ? m_borderWidth
        : style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(palette().window());
    if (width > 0)
        painter.setPen(QPen(palette().windowText(), width));
    else
        painter.setPen(Qt::NoPen);

    // Keep the outline inside the widget: the pen is centred on the path.
    const qreal inset = width > 0 ? width / 2 : 0;
    const QRectF area = QRectF(rect()).adjusted(inset, inset, -inset, -inset);
    if (m_radius > 0)
        painter.drawRoundedRect(area, m_radius, m_radius);
    else
        painter.drawRect(area);
}

} // namespace Varnel
