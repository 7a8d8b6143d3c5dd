#pragma once

#include <QStringList>

namespace Varnel {

// The 18 Montserrat faces compiled into the resources, in registration order.
QStringList montserratFonts();

// Adds the font files to the application font database in list order and
// stops at the first one that fails to load; returns how many were added.
int registerFonts(const QStringList &files);

// Registering reads every face in full (the font configuration library looks
// at each glyph), some megabytes that then stay resident, though the window
// draws with a few faces. The faces compiled in uncompressed are clean pages
// of the executable: this hands them back, and whatever is drawn later reads
// its pages in again from the file cache. For after the window's first frame.
void releaseFontPages();

} // namespace Varnel
