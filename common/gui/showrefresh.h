#pragma once

#include <functional>

class QWidget;

namespace Varnel {

// Runs refresh on the next turn of the event loop after every show of the
// widget (also a re-show from the tray), when the widget is on screen with
// its final size. The refresh never runs after the widget is gone.
void refreshOnShow(QWidget *widget, std::function<void()> refresh);

} // namespace Varnel
