// Windows: no advice. Large pages need the "Lock pages in memory" privilege, which
// ordinary accounts lack, and can only be asked for when memory is allocated, which the
// standard string does for the engine (under Wine, VirtualAlloc with MEM_LARGE_PAGES is
// refused). What saves fresh pages there is the engine's reuse of the last production's
// storage.
#include "app/large_pages.h"

void adviseLargePages(void*, std::size_t) {}
