// Global operator new and delete for the tests that meet exhausted memory: malloc and
// free, with the failure threshold and the high-water marks of allocation_limit.h. The
// live bytes are counted as malloc_usable_size gives them (glibc), since delete is not
// always told the size.
#include "tests/lsystem/allocation_limit.h"

#include <malloc.h>

#include <cstdlib>
#include <new>

std::size_t gFailAllocationsFrom = kNoAllocationLimit;
std::size_t gLargestAllocation = 0;
std::atomic<std::size_t> gPeakLiveBytes{0};

namespace {

std::atomic<std::size_t> gLiveBytes{0};

void counted(void* p)
{
    if (p == nullptr) return;
    const std::size_t live = gLiveBytes += malloc_usable_size(p);
    std::size_t peak = gPeakLiveBytes.load(std::memory_order_relaxed);
    while (live > peak && !gPeakLiveBytes.compare_exchange_weak(peak, live)) {
    }
}

void release(void* p) noexcept
{
    if (p == nullptr) return;
    gLiveBytes -= malloc_usable_size(p);
    std::free(p);
}

}  // namespace

std::size_t liveAllocatedBytes() { return gLiveBytes; }

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    if (size > gLargestAllocation) gLargestAllocation = size;
    if (size >= gFailAllocationsFrom) return nullptr;
    void* const p = std::malloc(size == 0 ? 1 : size);
    counted(p);
    return p;
}

void* operator new(std::size_t size)
{
    if (void* p = operator new(size, std::nothrow)) return p;
    throw std::bad_alloc();
}

// The compiler sees these replacements inlined at delete expressions and takes free
// after operator new for a mismatch; here the pair is malloc and free on purpose.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
