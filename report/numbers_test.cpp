// Numbers of any size, each through its one checked formatter.
#include <gtest/gtest.h>

#include "numbers.h"

namespace {

// Numbers of any size are formatted whole: never a buffer they did not fill.
TEST(numbers, numbers_of_any_size_format_whole) {
  EXPECT_EQ("1e-300", format_shortest(1e-300));
  EXPECT_EQ("0.05", format_shortest(0.05));
  EXPECT_EQ("1.5e-45", format_p(1.5e-45));
  EXPECT_EQ("0.029", format_p(0.02857142857142857));
  std::string least = format_exact(5e-324), largest = format_fixed(1.7976931348623157e308, 2);
  EXPECT_EQ(326u, least.size());
  EXPECT_EQ("0.000", least.substr(0, 5));
  EXPECT_EQ('5', least.back());
  EXPECT_EQ(309u + 3u, largest.size());
  EXPECT_EQ(std::string::npos, (least + largest).find('\0'));
  EXPECT_FALSE(number_format_failed());
}

}  // namespace
