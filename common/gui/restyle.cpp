#include "common/gui/restyle.h"

#include <QLabel>
#include <QPalette>

namespace Varnel {

void restyle(QWidget *widget, const QString &style)
{
    if (widget->styleSheet() != style)
        widget->setStyleSheet(style);
}

void setTextColour(QLabel *label, const QColor &colour)
{
    if (label->palette().color(QPalette::WindowText) == colour)
        return;
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

} // namespace Varnel
