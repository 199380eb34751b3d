#include <gtest/gtest.h>
TEST(smoke, runs) { EXPECT_EQ(1, 1); }
