// The ceilings of the description, the word and the turtle's stack, from an eighth of
// the machine's physical memory each (see memory_budget.h).
#include "app/memory_budget.h"

#include <algorithm>

#include "app/physical_memory.h"
#include "lsystem/lsystem.h"

Ceilings ceilingsForThisMachine()
{
    const std::uint64_t known = physicalMemoryBytes() / 8;
    const std::uint64_t eighth = known != 0 ? known : std::uint64_t(1) << 30;
    const std::uint64_t compiledIn = TENDRILVIEW_WORD_CEILING;
    const std::uint64_t word = std::min(kLongestCountedWord, compiledIn != 0 ? compiledIn : eighth);
    return Ceilings{word, eighth, eighth / sizeof(TurtleState)};
}
