#pragma once

#include <QString>

namespace Varnel {

// Folder of the kill-switch scripts and of the state file "service.txt".
// On Windows the client runs the batch files from the program data folder
// itself: the connect page appends a script name directly, the toggle and
// logout append "/" and the name, so it ends with a separator. On Linux the
// service runs them, and this is its default data directory.
QString killSwitchDataDirectory();

// Folder of the state file "service.txt"; the file writer adds "/" and the
// name. The same folder as the scripts on Linux.
QString killSwitchStateDirectory();

// File names of the script that blocks all traffic outside the tunnel and of
// the one that lifts the block again.
QString blockScriptName();
QString resetScriptName();

} // namespace Varnel
