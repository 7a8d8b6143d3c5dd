#pragma once

#include <QString>

namespace Varnel {

// The last IPv4 address of the running, non-loopback interfaces in system
// order; empty when there is none.
QString localIpv4();

} // namespace Varnel
