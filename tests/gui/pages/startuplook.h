#pragma once

class QWidget;

// Loads the fonts and the rewritten application style sheet the way the
// program's start-up does, so pages are laid out and drawn as users see them.
void applyStartupLook();

// A 1080 x 740 window with the root window's white background holding the
// page, shown (offscreen) so that layouts and style sheets are applied.
QWidget *hostInRootWindowFrame(QWidget *page);
