#pragma once

#include <QString>

namespace Varnel {

// Makes executablePath the handler of the "varnelvpn" URL scheme for the
// current user. Written on every start without reading the old entry, so a
// moved executable re-points the scheme. Failures are ignored.
void registerUrlScheme(const QString &executablePath);

} // namespace Varnel
