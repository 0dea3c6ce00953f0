#pragma once

namespace heaptrim {

// Hands the heap memory that is free but still held by the allocator back to the system. Freed
// blocks of a large page stay with the process otherwise, and count against it for as long as it
// runs.
void returnFreeMemory();

} // namespace heaptrim
