#pragma once

namespace Varnel {

// Hands the free pages of the heap back to the system. After a large,
// short-lived parse (a login reply of thousands of servers) the allocator
// otherwise keeps the freed megabytes mapped for the rest of the process.
// Changes no data; a no-op where the C library offers nothing for it.
void releaseFreeHeap();

} // namespace Varnel
