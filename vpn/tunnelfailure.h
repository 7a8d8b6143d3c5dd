#pragma once

#include <QMetaType>

namespace Varnel {

// Why a connect attempt or a tunnel ended without the user asking, so the
// connect page can say what to do about it. The status still ends in
// Disconnected as always; this only comes beside it.
enum class TunnelFailure {
    None,
    ServiceUnavailable,   // the VarnelVPN service is not running, or stopped while the tunnel was up
    ServiceRefused,       // the service would not make the tunnel (another user's is up, not allowed)
    ProgramMissing,       // the OpenVPN program could not be started
    ConfigurationRefused, // the server's configuration holds a directive that is not run
    TunnelDevice,         // the tunnel device could not be opened
    ServerUnreachable,    // no session came about: the server did not answer or broke off
    CredentialsRejected,  // the server refused the user name or password
    ServerKeyChanged,     // another key than the pinned one: nothing was sent
    ConnectionLost,       // an established tunnel went down (server gone, device removed)
    SetupFailed,          // a local step failed (private files, management socket, library session,
                          // the tunnel's configuration)
};

} // namespace Varnel

Q_DECLARE_METATYPE(Varnel::TunnelFailure)
