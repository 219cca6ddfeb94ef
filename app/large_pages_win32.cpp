// Windows: no advice. Large pages need the "Lock pages in memory" privilege, which
// ordinary accounts lack, and they can only be asked for when the memory is allocated;
// the engine's reuse of the last production's storage is what saves the fresh pages
// there.
#include "app/large_pages.h"

void adviseLargePages(void*, std::size_t) {}
