// Captures saved as Windows PowerShell saves redirected output, read back as
// the same capture in UTF-8; and inputs that are not text told apart.
#include <gtest/gtest.h>

#include "decode_text.h"
#include "report.h"
#include "test_data.h"

namespace {

// The Windows capture's root with a two-byte character, a surrogate pair
// and an unpaired high surrogate; the text ends in another unpaired one.
const std::u16string odd_root = u"Q:\\\u00e9\U0001d11e\xd800x";
const std::string odd_root_utf8 = "Q:\\\xc3\xa9\xf0\x9d\x84\x9e\xef\xbf\xbdx";
const std::u16string text_end = u"\xd83d";
const std::string text_end_utf8 = "\xef\xbf\xbd";

std::u16string widen(const std::string &ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::string utf16_bytes(const std::u16string &text, bool big_endian) {
  std::string bytes;
  for (char16_t unit : text) {
    char low = (char)(unit & 0xff), high = (char)(unit >> 8);
    bytes += big_endian ? high : low;
    bytes += big_endian ? low : high;
  }
  return bytes;
}

struct encoding_case {
  const char *name;
  const char *mark;
  int utf16;  // 0: UTF-8; else 1 for LE, 2 for BE
};

class decode : public testing::TestWithParam<encoding_case> {};

TEST_P(decode, reads_a_marked_capture_as_its_utf8) {
  std::string capture = read_test_data("win64_crlf.txt");  // CR LF, as PowerShell writes
  size_t root = capture.find("Q:\\ information");
  ASSERT_NE(std::string::npos, root);
  std::string before = capture.substr(0, root), after = capture.substr(root + 3);
  std::string utf8 = before + odd_root_utf8 + after + text_end_utf8;
  std::string bytes = GetParam().utf16 == 0
                          ? GetParam().mark + utf8
                          : GetParam().mark + utf16_bytes(widen(before) + odd_root + widen(after) + text_end,
                                                          GetParam().utf16 == 2);

  std::string found = "unset";
  report_input decoded = parse_bytes(bytes, &found), expected = parse_named("", utf8);
  EXPECT_EQ("", found);
  ASSERT_EQ(1u, decoded.drives.size());
  EXPECT_EQ(odd_root_utf8, decoded.drives[0].root);
  EXPECT_EQ(expected.drives[0].sequential.rows.size(), decoded.drives[0].sequential.rows.size());
  EXPECT_EQ(11u, decoded.drives[0].random.rows.size());

  // Chunks may end anywhere: in the mark, a unit or a pair.
  text_decoder decoder;
  start_decode(&decoder);
  std::string byte_by_byte;
  for (char byte : bytes) decode_text(&decoder, std::string_view(&byte, 1), &byte_by_byte);
  finish_decode(&decoder, &byte_by_byte);
  EXPECT_EQ(utf8, byte_by_byte);
}

INSTANTIATE_TEST_SUITE_P(, decode,
                         testing::Values(encoding_case{"utf16_le", "\xff\xfe", 1},
                                         encoding_case{"utf16_be", "\xfe\xff", 2},
                                         encoding_case{"utf8_marked", "\xef\xbb\xbf", 0}),
                         [](const testing::TestParamInfo<encoding_case> &info) { return info.param.name; });

TEST(decode_input, says_what_it_found_where_there_is_no_text) {
  std::string capture = read_test_data("linux_two_drives.txt");
  const struct {
    std::string bytes, found;
  } cases[] = {
      {utf16_bytes(widen(capture), false), "not text: NUL bytes in the first line"},  // no mark
      {std::string("\x7f"
                   "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\0\x03\0\x3e\0",
                   20),
       "not text: NUL bytes in the first line"},
      {capture.substr(0, capture.find("drive ")), ""},  // text without results
  };
  for (const auto &c : cases) {
    std::string found;
    EXPECT_TRUE(parse_bytes(c.bytes, &found).drives.empty());
    EXPECT_EQ(c.found, found) << c.bytes.substr(0, 40);
  }
}

}  // namespace
