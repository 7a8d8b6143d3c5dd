#pragma once

class QStackedWidget;
class QWidget;

namespace Varnel {

// The pages of this stack are styled when they are first shown, not when the
// window is. Start-up builds every page, and applying the style sheet (rules,
// fonts, palettes) to all their widgets is most of what showing the window
// costs. While a page is not its stack's current page (or lies in one that is
// not), the polish of its widgets waits; it is done in Qt's own order just
// before the page is shown, when the stack raises it.
void styleWhenShown(QStackedWidget *stack);

// The same for a window, which may never be shown at all: its widgets are
// polished when it is shown.
void styleWhenShown(QWidget *window);

} // namespace Varnel
