#pragma once

#include <QString>

namespace Varnel {

// Fixed, untranslated product name: the key of the settings store, the
// registry group and the URL scheme. Use applicationName() for display.
inline constexpr char kApplicationId[] = "VarnelVPN";

// The translatable display name "VarnelVPN".
QString applicationName();
// "3.0.4"
QString applicationVersion();
// "Morvanta"
QString organizationName();

} // namespace Varnel
