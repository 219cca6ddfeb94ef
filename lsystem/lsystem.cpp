// The machine's memory, asked here once for the default ceilings of the reader, the
// rewriting and the stack. (The LSystem's defaults are its member initialisers.)
#include "lsystem/lsystem.h"

#include "lsystem/physical_memory.h"

std::uint64_t eighthOfPhysicalMemory()
{
    static const std::uint64_t eighth = [] {
        const std::uint64_t known = physicalMemoryBytes() / 8;
        return known != 0 ? known : std::uint64_t(1) << 30;
    }();
    return eighth;
}

std::uint64_t defaultDescriptionCeiling() { return eighthOfPhysicalMemory(); }

std::uint64_t defaultStackCeiling() { return eighthOfPhysicalMemory() / sizeof(TurtleState); }
