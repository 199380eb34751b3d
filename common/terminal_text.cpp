#include "terminal_text.h"

std::string terminal_text(std::string_view text) {
  static const char hex[] = "0123456789abcdef";
  std::string shown;
  shown.reserve(text.size());
  for (char c : text) {
    unsigned char byte = (unsigned char)c;
    if (byte >= 0x20 && byte != 0x7F) {
      shown += c;
    } else if (c == '\n') {
      shown += "\\n";
    } else if (c == '\t') {
      shown += "\\t";
    } else if (c == '\r') {
      shown += "\\r";
    } else {
      shown += "\\x";
      shown += hex[byte >> 4];
      shown += hex[byte & 0xF];
    }
  }
  return shown;
}
