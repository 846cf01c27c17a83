// The kernel's memory manager stays up for as long as any connector object
// file lives: each holds a use of it.
#include <gtest/gtest.h>

#include <filesystem>

#include "velm/memory.hxx"

// Every object file of the connector holds the kernel's memory manager.
TEST(MemoryManager, EveryConnectorObjectFileIsAUser)
{
    int sources = 0;
    const std::filesystem::path root = std::filesystem::path(XVELM_EXAMPLES_DIR).parent_path() / "xvelm2k";
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        sources += entry.path().extension() == ".cpp";
    ASSERT_GT(sources, 20);
    // Beside them the kernel's own start-up holds one use, and so does the
    // sweep's source in this program.
    EXPECT_EQ(mmgr_system_users(), sources + 2)
        << "a source under xvelm2k/ includes neither model/memory_init.hxx nor model/kernel_call_bracket.hxx";
}
