#pragma once

#include <QStringList>

namespace Varnel {

// The 18 Montserrat faces compiled into the resources, in registration order.
QStringList montserratFonts();

// Adds the font files to the application font database in list order and
// stops at the first one that fails to load; returns how many were added.
int registerFonts(const QStringList &files);

} // namespace Varnel
