// Construction of the LSystem: the defaults are member initialisers, and the drawing
// state that every later pass relies on is set here, once. The machine's memory is asked
// here, once, for the default ceilings of the reader, the rewriting and the stack.
#include "lsystem/lsystem.h"

#include "lsystem/gl.h"
#include "lsystem/physical_memory.h"

LSystem::LSystem()
{
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glLineWidth(1.0f);
    glEnable(GL_LINE_SMOOTH);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);
    glPointSize(4.0f);
}

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
