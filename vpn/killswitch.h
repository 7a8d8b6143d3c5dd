#pragma once

#include "vpn/scriptrunner.h"

#include <QString>

#include <optional>

namespace Varnel {

// The kill switch's side effects outside the settings: the firewall scripts
// in the data directory and the state file for a background service.
// GUI thread only; every script run waits for the script (bounded).
namespace KillSwitch {

// Which of the two script runners: they build the path differently and
// report differently.
enum class Runner {
    ConnectPage,   // data directory + name; a missing script is reported to the caller
    Toggle,        // data directory + "/" + name (toggle and logout); reports by debug line
};

// Path of the block script (enable) or of the reset script.
QString scriptPath(Runner runner, bool enable);

// Runs the block (enable) or reset script and waits for it. The connect
// page's runner returns nothing when no file exists at the path (the page
// then shows "File Error"); the toggle's runner starts it regardless and
// writes "bat file finished with exit code:" or the error line.
std::optional<ScriptResult> runScript(Runner runner, bool enable);

// "KillSwith:ON" / "KillSwith:OFF" (sic: the service reads this spelling).
QString stateText(bool on);

// Writes stateText(on), without line feed, to "service.txt" in the state
// directory, readable and writable by everyone. Failures are not reported.
void writeState(bool on);

// The toggle's press: flips the settings' killSwitch, saves, writes the
// state file, saves again, and runs the matching script only while no
// tunnel is up (the connect page applies the state around the next
// connection). Returns the new value.
bool toggle();

// Logout: switches the kill switch off and saves; when it was on, writes
// the state file and lifts the block with the toggle's runner.
void liftOnLogout();

} // namespace KillSwitch

} // namespace Varnel
