#pragma once

#include <functional>

class QSettings;
class QString;

namespace Varnel {

// Access to the per-user settings storage (organisation "Morvanta",
// application "VarnelVPN"). Each call opens its own settings object; none
// stays open between calls. The store holds the scrambled password, so its
// folder is kept private (0700) and its file owner-only (0600); a write is
// skipped, and logged, when the file is a link or another user's, or its
// folder is not this user's own.
void readSettings(const std::function<void(QSettings &)> &read);
void writeSettings(const std::function<void(QSettings &)> &write);
// The same for another organisation's and application's store.
void writeSettings(const QString &organization, const QString &application,
                   const std::function<void(QSettings &)> &write);

} // namespace Varnel
