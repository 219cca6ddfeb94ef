// Control over the test program's global operator new (replaced in allocation_limit.cpp),
// so that tests can make large allocations fail and see how large they get, one by one
// and all together.
#pragma once

#include <atomic>
#include <cstddef>

// Allocations of at least this many bytes fail while a test sets it.
extern std::size_t gFailAllocationsFrom;
constexpr std::size_t kNoAllocationLimit = static_cast<std::size_t>(-1);

// The largest allocation asked for since a test last cleared it.
extern std::size_t gLargestAllocation;

// The most bytes that operator new had handed out and not yet taken back at any one time,
// on all threads, since a test last set it to the bytes live then (liveAllocatedBytes()).
extern std::atomic<std::size_t> gPeakLiveBytes;
std::size_t liveAllocatedBytes();
