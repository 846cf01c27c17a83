// The kernel's memory manager stays up for as long as any connector object
// file lives: each holds a use of it.
#include <gtest/gtest.h>

#include "velm/memory.hxx"

// Every object file of the connector holds the kernel's memory manager. A unity
// build compiles several sources into one object file; the build says how many it made.
TEST(MemoryManager, EveryConnectorObjectFileIsAUser)
{
    const int objectFiles = XVELM2KA_OBJECT_FILES;
    ASSERT_GT(objectFiles, 0);
    // Beside them the kernel's own start-up holds one use, and so does the
    // sweep's source in this program.
    EXPECT_EQ(mmgr_system_users(), objectFiles + 2)
        << "a source under xvelm2k/ includes neither model/memory_init.hxx nor model/kernel_call_bracket.hxx";
}
