#include "heaptrim.h"

// Any C library header says which C library this is.
#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#elif defined(_WIN32)
#include <malloc.h>
#include <windows.h>
#endif

namespace heaptrim {

void returnFreeMemory() {
#if defined(__GLIBC__)
    // Every arena, and the free pages inside the heap as well as at its top.
    malloc_trim(0);
#elif defined(_WIN32)
    _heapmin();
    HeapCompact(GetProcessHeap(), 0);
#endif
}

} // namespace heaptrim
