// Global operator new and delete for the tests that meet exhausted memory: malloc and
// free, with the failure threshold and the high-water mark of allocation_limit.h.
#include "tests/lsystem/allocation_limit.h"

#include <cstdlib>
#include <new>

std::size_t gFailAllocationsFrom = kNoAllocationLimit;
std::size_t gLargestAllocation = 0;

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    if (size > gLargestAllocation) gLargestAllocation = size;
    return size >= gFailAllocationsFrom ? nullptr : std::malloc(size == 0 ? 1 : size);
}

void* operator new(std::size_t size)
{
    if (void* p = operator new(size, std::nothrow)) return p;
    throw std::bad_alloc();
}

// The compiler sees these replacements inlined at delete expressions and takes free
// after operator new for a mismatch; here the pair is malloc and free on purpose.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
