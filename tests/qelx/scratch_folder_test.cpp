// Where the tests write their scratch files: the build tree's own folder
// (TEST_TMPDIR), the system's temporary folder included when ctest runs the
// programs by shards (as CI does), so that test runs of several checkouts on
// one machine never write over each other's files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

TEST(ScratchFolder, TheSystemTemporaryFolderIsTheBuildTreesOwn)
{
    const char* own = std::getenv("TEST_TMPDIR");
    if (!own || !std::getenv("GTEST_TOTAL_SHARDS"))
        GTEST_SKIP() << "not run by shards under ctest: the temporary folder is the system's";
    EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::temp_directory_path(), std::filesystem::path(own)))
        << std::filesystem::temp_directory_path() << " is not " << own;
}
