#pragma once

#include <QString>

namespace Varnel {

// The kill switch's side effects outside the settings, on Linux carried out
// by the privileged service: it holds the machine's block for every user
// whose kill switch is on, runs the scripts of its data directory and writes
// the state file "service.txt". GUI thread only; every request is bounded.
namespace KillSwitch {

// Who asks: the connect page (around a connection; a missing script is
// reported to it) or the toggle and logout (debug lines only).
enum class Runner {
    ConnectPage,
    Toggle,
};

enum class Outcome {
    Done,          // the block is in place (enable) or this user's hold ended
    MissingScript, // the service has no such script (the page says "File Error")
    Failed,        // the service refused or is not running (logged)
};

// Applies the block (enable) or ends this user's hold of it. Before a
// connect the connect page asks for the reset: the block then stays, and
// the service lets the chosen server through for the attempt and the
// tunnel (nothing else leaves while the kill switch is on).
Outcome runScript(Runner runner, bool enable);

// "KillSwith:ON" / "KillSwith:OFF" (sic: the service reads this spelling).
QString stateText(bool on);

// The toggle's press: flips the settings' killSwitch, saves, and has the
// service apply or lift the block at once (also while a tunnel is up: the
// tunnel is let through). Returns the new value.
bool toggle();

// Logout: switches the kill switch off and saves; when it was on, ends this
// user's hold of the block.
void liftOnLogout();

} // namespace KillSwitch

} // namespace Varnel
