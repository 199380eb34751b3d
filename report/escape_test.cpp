// Outside text made safe for XML and for a spreadsheet's CSV.
#include <gtest/gtest.h>

#include "escape.h"

namespace {

// Formula-like text gets a leading ', then RFC 4180 quoting as any text.
TEST(escape, csv_field_keeps_spreadsheets_from_running_names) {
  const struct {
    const char *text, *field;
  } cases[] = {{"=HYPERLINK(\"http://x\",\"y\")", "\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\""},
               {"+1+1", "'+1+1"},
               {"-2+3", "'-2+3"},
               {"@SUM(A1)", "'@SUM(A1)"},
               {"\tx", "'\tx"},
               {"\rx", "\"'\rx\""},
               {"-", "-"},
               {"a=b,-c", "\"a=b,-c\""},
               {"", ""}};
  for (const auto &c : cases) EXPECT_EQ(c.field, csv_field(c.text)) << c.text;
}

TEST(escape, text_made_safe_for_xml) {
  // Valid UTF-8 passes; overlong forms, surrogates, stray bytes and the
  // controls XML forbids do not.
  const std::string fffd = "\xef\xbf\xbd";
  EXPECT_EQ("\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", escape_xml("\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"));
  EXPECT_EQ(fffd + fffd + "z", escape_xml("\xc0\xafz"));
  EXPECT_EQ(fffd + fffd + fffd, escape_xml("\xed\xa0\x80"));
  EXPECT_EQ(fffd + fffd, escape_xml("\xe2\x82"));
  EXPECT_EQ("q" + fffd + "z" + fffd, escape_xml(std::string("q\x01z\0", 4)));
  EXPECT_EQ("&lt;a href=&quot;x&quot;&gt; &amp; &#39;", escape_xml("<a href=\"x\"> & '"));
}

}  // namespace
