#include "common/gui/shadow.h"

#include <QGraphicsDropShadowEffect>
#include <QWidget>

namespace Varnel {

static void applyShadow(QWidget *widget, qreal blurRadius, qreal offset)
{
    auto *effect = new QGraphicsDropShadowEffect;
    effect->setBlurRadius(blurRadius);
    effect->setOffset(offset);
    widget->setGraphicsEffect(effect); // takes ownership, deletes the old one
}

void setLargeShadow(QWidget *widget) { applyShadow(widget, 30, 3.0); }
void setSmallShadow(QWidget *widget) { applyShadow(widget, 4, 0.5); }
void setMediumShadow(QWidget *widget) { applyShadow(widget, 5, 1.0); }

} // namespace Varnel
