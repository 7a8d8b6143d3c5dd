#pragma once

class QColor;
class QLabel;
class QString;
class QWidget;

namespace Varnel {

// Setting a style sheet re-polishes the widget and repaints it even when the
// sheet is the same; the pages follow every tunnel status, most of which
// leave a text's look as it was. These set only what changes.
void restyle(QWidget *widget, const QString &style);
void setTextColour(QLabel *label, const QColor &colour);

} // namespace Varnel
