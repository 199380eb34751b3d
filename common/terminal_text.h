// Outside text (a root, a file name, a device's model) made safe to print on
// a terminal, one line per message.
#pragma once

#include <string>
#include <string_view>

// text with each control character (a byte below 0x20, or 0x7F) written as an
// escape: \n, \t and \r for those three, \xHH (two lower-case hex digits) for
// the rest. Every other byte, a backslash or a byte from 0x80 up included, is
// kept as it is, so text without control characters comes back unchanged.
std::string terminal_text(std::string_view text);
