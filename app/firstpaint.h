#pragma once

#include <functional>

class QWidget;

namespace Varnel {

// Runs done once, after the window's first frame has been painted (the
// window paints all its children inside the handling of its own paint).
void afterFirstPaint(QWidget *window, std::function<void()> done);

} // namespace Varnel
