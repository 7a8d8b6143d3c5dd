#pragma once

#include <functional>

class QSettings;

namespace Varnel {

// Access to the per-user settings storage (organisation "Morvanta",
// application "VarnelVPN"). Each call opens its own settings object; none
// stays open between calls. Writes keep the file owner-only: it holds the
// scrambled password.
void readSettings(const std::function<void(QSettings &)> &read);
void writeSettings(const std::function<void(QSettings &)> &write);

} // namespace Varnel
