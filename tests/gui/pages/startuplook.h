#pragma once

#include <QString>

class QPixmap;
class QWidget;

// Loads the fonts and the rewritten application style sheet the way the
// program's start-up does, so pages are laid out and drawn as users see them.
void applyStartupLook();

// A 1080 x 740 window with the root window's white background holding the
// page, shown (offscreen) so that layouts and style sheets are applied.
QWidget *hostInRootWindowFrame(QWidget *page);

// For the programs that render pages to PNG files: the output folder named by
// the first argument (made when missing), empty after a usage line without it.
QString shotsFolder(int argc, char *argv[]);
// Saves the picture as name in the folder and prints the file's path.
void saveShot(const QPixmap &picture, const QString &folder, const QString &name);
