#pragma once

#include <QPoint>
#include <QSize>

class QWidget;

namespace Varnel {

// Top-left corner that centres a frame of the given size on a screen of the
// given size; each half is an integer division, the screen origin is not added.
QPoint centredTopLeft(const QSize &screen, const QSize &frame);

// The main window's fixed 1080 x 740 size, its title-bar buttons, and its
// place in the middle of the primary screen.
void fixMainWindowGeometry(QWidget *window);

} // namespace Varnel
