// Linux: transparent huge pages asked for with madvise(MADV_HUGEPAGE). Many systems
// run them in "madvise" mode, where only memory so marked gets them; a 2 MiB page then
// costs one fault where 512 small ones cost 512, and writing fresh memory runs many
// times faster. The advice covers the whole pages of the buffer; the kernel backs with
// huge pages every aligned 2 MiB of it, and the rest with small ones.
#include "app/large_pages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

void adviseLargePages(void* data, std::size_t bytes)
{
#ifdef MADV_HUGEPAGE
    // Buffers this large are mappings of their own in the allocator, so the advice
    // reaches no other allocation; smaller ones are left alone.
    constexpr std::size_t kSmallest = std::size_t(4) << 20;
    if (bytes < kSmallest) {
        return;
    }
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(data) & ~(page - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes + page - 1) & ~(page - 1);
    madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);  // advice: its failure changes nothing
#else
    (void)data;
    (void)bytes;
#endif
}
