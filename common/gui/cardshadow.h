#pragma once

#include <QColor>
#include <QPoint>

class QWidget;

namespace Varnel {

// A soft shadow under a card (a widget with rounded corners and an opaque
// background): a blurred rounded rectangle, drawn once per card size and
// pixel ratio and painted by a widget placed behind the card. A graphics
// effect would render the whole card and blur it again at every repaint of
// anything in it, such as a field's caret blinking twice a second.
void addCardShadow(QWidget *card, qreal cornerRadius, int blurRadius, const QPoint &offset, const QColor &colour);

} // namespace Varnel
