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
    // Beside them the kernel's own start-up holds one use, and so does each object file of this
    // program whose sources include the connector's bracket: one in a unity build, where they
    // share a batch (the count is exact there), up to one an object file source by source.
    const int ownObjectFiles = XVELM_FAULTS_OBJECT_FILES;
    EXPECT_GE(mmgr_system_users(), objectFiles + 2)
        << "a source under xvelm2k/ includes neither model/memory_init.hxx nor model/kernel_call_bracket.hxx";
    EXPECT_LE(mmgr_system_users(), objectFiles + 1 + ownObjectFiles);
}
