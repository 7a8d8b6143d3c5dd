#pragma once

class QWidget;

namespace Varnel {

// A plain QWidget subclass paints nothing of its style sheet by itself;
// its paint event calls this to draw the sheet's background, border and
// hover colour.
void paintStyleSheetBackground(QWidget *widget);

} // namespace Varnel
