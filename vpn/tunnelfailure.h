#pragma once

#include <QMetaType>

namespace Varnel {

// Why a connect attempt or a tunnel ended without the user asking, so the
// connect page can say what to do about it. The status still ends in
// Disconnected as always; this only comes beside it.
enum class TunnelFailure {
    None,
    NeedsAdministrator,   // no right to create the tunnel device (not root, no CAP_NET_ADMIN)
    ProgramMissing,       // the OpenVPN program could not be started
    ConfigurationRefused, // the server's configuration holds a directive that is not run
    TunnelDevice,         // the tunnel device could not be created, though the right is there
    ServerUnreachable,    // no session came about: the server did not answer or broke off
    CredentialsRejected,  // the server refused the user name or password
    ServerKeyChanged,     // another key than the pinned one: nothing was sent
    ConnectionLost,       // an established tunnel went down (server gone, device removed)
    SetupFailed,          // a local step failed (private files, management socket, library session)
};

} // namespace Varnel

Q_DECLARE_METATYPE(Varnel::TunnelFailure)
