#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

namespace Varnel {

// The window that parents every message box (the root window, set once at
// start-up). Held weakly: a destroyed window simply stops being the parent.
void setMainWindow(QWidget *window);
// That window, or null when none was set or it is gone.
QWidget *mainWindow();

// Modal message box titled with the application name. With a detail text,
// the detail is the main text and text the informative one. Returns the
// button pressed.
QMessageBox::StandardButton showMessage(const QString &text, QMessageBox::StandardButtons buttons,
                                        const QString &detail = QString());

// The same box with an address the user may need elsewhere (a link nothing
// could open): shown whole in a read-only field, with a button that copies it.
void showAddress(const QString &text, const QString &address);

} // namespace Varnel
