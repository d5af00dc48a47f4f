// The counting global operator new/delete of the benchmark program. Every
// allocation goes through malloc, so the usable size is known at both ends.
#include <cstdlib>
#include <new>

#include <malloc.h>

#include "bench_support.h"

// GCC sees free() applied to what operator new returned; here that is the
// point, since this operator new is malloc.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
bool heapCounting = false;
int64_t heapBytes = 0;
} // namespace

void startHeapCount() {
    heapBytes = 0;
    heapCounting = true;
}

int64_t stopHeapCount() {
    heapCounting = false;
    return heapBytes;
}

void* operator new(std::size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    if (heapCounting) heapBytes += int64_t(malloc_usable_size(p));
    return p;
}

void operator delete(void* p) noexcept {
    if (p && heapCounting) heapBytes -= int64_t(malloc_usable_size(p));
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
    operator delete(p);
}
