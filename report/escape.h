// Outside text (a root, a file name, a device) made safe where it leaves the
// report, once per kind of output. For a terminal, common's terminal_text;
// JSON's own escaping is the library's.
#pragma once

#include <string>
#include <string_view>

// Text safe inside XML and HTML elements and attributes: markup characters
// escaped, invalid UTF-8 and characters XML forbids replaced by U+FFFD.
std::string escape_xml(std::string_view text);

// A text field of a CSV record. One that starts with =, +, -, @, a tab or a
// carriage return (but "-" alone) gets a leading ' so that spreadsheet
// programs take it as text, not as a formula; then, per RFC 4180, one that
// holds a comma, a quote or a line break is quoted, its quotes doubled.
// Numbers are written as they are, not through this.
std::string csv_field(std::string_view text);
