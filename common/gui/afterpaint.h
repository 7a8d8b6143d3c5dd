#pragma once

#include <functional>

class QObject;

namespace Varnel {

// Runs fn on the event loop once the repaints already asked for are done:
// a posted event of lower priority than a window's paint request, which is
// handled before it. Nothing runs if context is gone by then.
void afterPendingPaints(QObject *context, std::function<void()> fn);

} // namespace Varnel
