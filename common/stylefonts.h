#pragma once

#include <QByteArray>

namespace Varnel {

// Start-up adjustment of the application style sheet: font sizes of 16 px
// become size16, 24 px become size24 (others keep their value, each gets one
// blank after the colon) and every numeric font weight becomes weight.
QByteArray rewriteFonts(const QByteArray &style, int size16, int size24, int weight);

} // namespace Varnel
