#pragma once

#include <QString>

namespace Varnel {

// The client's own folder of state that outlives a run (the login cache):
// $XDG_STATE_HOME/VarnelVPN, by default ~/.local/state/VarnelVPN. The
// callers keep it private to the user (common/ownfiles).
QString stateDirectory();

// Where the single-instance lock and socket live: the session's runtime
// folder ($XDG_RUNTIME_DIR) when it is the user's own and nobody else may
// write to it, else the private state folder. Never a shared folder such as
// /tmp, where another user could plant a lock that stops the client from
// starting. Empty when no such folder can be had.
QString instanceDirectory();

} // namespace Varnel
