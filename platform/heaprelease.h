#pragma once

namespace Varnel {

// Hands the free pages of the heap back to the system. After a large,
// short-lived parse (a login reply of thousands of servers) the allocator
// otherwise keeps the freed megabytes mapped for the rest of the process.
// Changes no data; a no-op where the C library offers nothing for it.
void releaseFreeHeap();

// Buffers of 128 KiB and more are mapped on their own and unmapped when
// freed. The C library would otherwise raise that limit after the first
// such buffer is freed and keep the following ones (a login reply's copies)
// in the heap, whose pages then stay with the process. For start-up.
void keepLargeBuffersApart();

} // namespace Varnel
