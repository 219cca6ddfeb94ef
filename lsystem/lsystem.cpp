// Construction of the LSystem: the defaults are member initialisers, and the drawing
// state that every later pass relies on is set here, once. The defaults of the reader's
// and the stack's memory ceilings, which come from physical memory, are here too.
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

namespace {

// An eighth of physical memory; when the system does not say, 1 GiB.
std::uint64_t eighthOfMemory()
{
    const std::uint64_t eighth = physicalMemoryBytes() / 8;
    return eighth != 0 ? eighth : std::uint64_t(1) << 30;
}

}  // namespace

std::uint64_t defaultDescriptionCeiling() { return eighthOfMemory(); }

std::uint64_t defaultStackCeiling() { return eighthOfMemory() / sizeof(TurtleState); }
