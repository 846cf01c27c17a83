#include <gtest/gtest.h>
TEST(Build, Links) { EXPECT_EQ(1 + 1, 2); }
