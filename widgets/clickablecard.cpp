#include "widgets/clickablecard.h"

#include "common/gui/stylesheetbackground.h"
#include "common/gui/pressable.h"

#include <QMouseEvent>

namespace Varnel {

ClickableCard::ClickableCard(QWidget *parent)
    : QWidget(parent)
{
    setCursor(Qt::PointingHandCursor);
    // Named by its labels unless a subclass names it.
    makePressable(this);
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
