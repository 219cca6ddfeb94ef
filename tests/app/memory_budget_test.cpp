// The ceilings that main hands to the LSystem: an eighth of the machine's memory each,
// the word's also within the count that a report can print.
#include "app/memory_budget.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/physical_memory.h"
#include "lsystem/lsystem.h"

namespace {

TEST(Ceilings, AreAnEighthOfPhysicalMemoryEach)
{
    const std::uint64_t eighth = physicalMemoryBytes() / 8;
    ASSERT_GT(eighth, 0u) << "the system did not say how much memory it has";
    const Ceilings ceilings = ceilingsForThisMachine();
    EXPECT_EQ(ceilings.description, eighth);
    EXPECT_EQ(ceilings.stack, eighth / sizeof(TurtleState));
    EXPECT_EQ(ceilings.word, std::min(eighth, kLongestCountedWord));
}

}  // namespace
