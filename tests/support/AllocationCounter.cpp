#include "tests/support/AllocationCounter.h"

#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TB_COUNT_ALLOCATIONS 0
#else
#define TB_COUNT_ALLOCATIONS 1
#endif

namespace {
thread_local long t_allocations = 0;
}

#if TB_COUNT_ALLOCATIONS
void* operator new(std::size_t n) {
    ++t_allocations;
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#endif

namespace TB {

bool AllocationCountingEnabled() { return TB_COUNT_ALLOCATIONS != 0; }
long ThreadAllocationCount() { return t_allocations; }

}  // namespace TB
