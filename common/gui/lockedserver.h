#pragma once

#include <functional>

namespace Varnel {

class IPBundle;

// A free account's answer to a locked server: the purchase question instead
// of a connection. True when the bundle is locked (the caller starts
// nothing); `buy` runs when the user answers Yes.
bool offerPurchaseIfLocked(const IPBundle &bundle, const std::function<void()> &buy);

} // namespace Varnel
