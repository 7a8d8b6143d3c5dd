#pragma once

#include <QString>

class QWidget;

namespace Varnel {

// Many controls of the pages are plain widgets that act on a mouse press
// (menu entries, setting rows, quick-connect buttons, cards). This makes one
// usable without a mouse: Tab reaches it, Enter, Return or Space press it
// (the same press a click gives), and screen readers see a button (a check
// box once it has a switch state) with a name: the given one, else the
// texts of its labels, which follow what the widget shows.
void makePressable(QWidget *widget, const QString &name = QString(), const QString &description = QString());

// For a pressable widget that switches something on and off.
void setSwitchState(QWidget *widget, bool on);

// Enter and Return press the focused button or check box anywhere in the
// program (Qt leaves that to dialogs' default buttons). Idempotent; the
// first makePressable calls it too.
void installKeyboardActivation();

} // namespace Varnel
