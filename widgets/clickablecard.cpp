#include "widgets/clickablecard.h"

#include "common/gui/stylesheetbackground.h"

#include <QMouseEvent>

namespace Varnel {

ClickableCard::ClickableCard(QWidget *parent)
    : QWidget(parent)
{
    setCursor(Qt::PointingHandCursor);
}

void ClickableCard::mousePressEvent(QMouseEvent *event)
{
    QWidget::mousePressEvent(event);
    if (event->button() == Qt::LeftButton)
        emit clicked();
}

void ClickableCard::paintEvent(QPaintEvent *)
{
    paintStyleSheetBackground(this);
}

} // namespace Varnel
