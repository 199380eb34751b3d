#include <gtest/gtest.h>

#include "terminal_text.h"

namespace {

TEST(terminal_text, escapes_control_characters_and_nothing_else) {
  const struct {
    std::string text, shown;
  } cases[] = {
      {"/mnt/usb disk/x.img", "/mnt/usb disk/x.img"},
      {"a\nb\tc\rd", "a\\nb\\tc\\rd"},
      {std::string("\x00\x01\x1b\x1f\x7f", 5), "\\x00\\x01\\x1b\\x1f\\x7f"},
      // A backslash, and bytes from 0x80 up (UTF-8 among them), as they are.
      {"C:\\x1b \xc3\xa9\x80\xff", "C:\\x1b \xc3\xa9\x80\xff"},
  };
  for (const auto &c : cases) EXPECT_EQ(c.shown, terminal_text(c.text)) << c.shown;
}

}  // namespace
