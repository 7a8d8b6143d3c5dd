#include "common/gui/overlay.h"

#include <QEvent>

namespace Varnel {

Overlay::Overlay(QWidget *parent)
    : QWidget(parent)
{
    setGeometry(parent->rect());
    // Follow the parent's size for as long as the overlay lives.
    parent->installEventFilter(this);
}

bool Overlay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

} // namespace Varnel
