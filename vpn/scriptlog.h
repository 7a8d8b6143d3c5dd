#pragma once

#include <QString>

namespace Varnel {

// Copies the tunnel script's own log ("vpnc.log" in directory, normally the
// system temporary directory) line by line into the application log and
// deletes it. A file that is missing, unreadable, a link or someone else's
// is logged as such and left alone.
void forwardScriptLog(const QString &directory);

} // namespace Varnel
