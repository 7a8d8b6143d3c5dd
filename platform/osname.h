#pragma once

#include <QString>

namespace Varnel {

// The system name this build reports to the backend at login ("osName"; the
// name reported to OpenConnect servers is another, see vpnplatform.h): the
// product type, "windows" on Windows and the distribution's id (for example
// "debian") on Linux. The backend lists the account's devices under it.
QString loginSystemName();

// The family name a person reads for that system ("Windows", "Linux").
QString loginSystemFamily();

} // namespace Varnel
