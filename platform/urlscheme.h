#pragma once

#include <QString>

namespace Varnel {

// Makes executablePath the handler of the "varnelvpn" URL scheme for the
// current user. Written on every start without reading the old entry, so a
// moved executable re-points the scheme. On Linux, when the installed
// package's desktop entry (varnelvpn.desktop in a system folder) runs this
// same executable, that entry is made the handler instead and no per-user
// entry is kept, so the two never compete. Failures are ignored.
void registerUrlScheme(const QString &executablePath);

} // namespace Varnel
