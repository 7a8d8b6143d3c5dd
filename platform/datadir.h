#pragma once

#include <QString>

namespace Varnel {

// Folder of the firewall scripts, as the runners build their paths from it:
// the connect page appends a script name directly, the toggle and logout
// append "/" and the name, so it ends with a separator. On Linux it is
// /var/lib/VarnelVPN/ unless VARNELVPN_DATA_DIR names another folder.
QString killSwitchDataDirectory();

// Folder of the state file "service.txt"; the file writer adds "/" and the
// name. The same folder as the scripts on Linux.
QString killSwitchStateDirectory();

// File names of the script that blocks all traffic outside the tunnel and of
// the one that lifts the block again.
QString blockScriptName();
QString resetScriptName();

} // namespace Varnel
