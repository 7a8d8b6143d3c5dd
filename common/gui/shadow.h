#pragma once

class QWidget;

namespace Varnel {

// Drop-shadow presets; each replaces any graphics effect already on the widget.
void setLargeShadow(QWidget *widget);
void setSmallShadow(QWidget *widget);
void setMediumShadow(QWidget *widget);

} // namespace Varnel
