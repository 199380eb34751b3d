#include "escape.h"

// The code point of the UTF-8 sequence at text[*at], advancing *at past it;
// -1 (advancing one byte) for a byte that starts no valid sequence.
static long decode_utf8(std::string_view text, size_t *at) {
  unsigned char lead = (unsigned char)text[*at];
  int length = lead < 0x80                   ? 1
               : lead >= 0xc2 && lead < 0xe0 ? 2
               : lead >= 0xe0 && lead < 0xf0 ? 3
               : lead >= 0xf0 && lead < 0xf5 ? 4
                                             : 0;
  if (length == 0 || *at + length > text.size()) return ++*at, -1;
  long code = length == 1 ? lead : lead & (0x3f >> (length - 1));
  for (int i = 1; i < length; ++i) {
    unsigned char next = (unsigned char)text[*at + i];
    if ((next & 0xc0) != 0x80) return ++*at, -1;
    code = code << 6 | (next & 0x3f);
  }
  // Overlong forms, surrogates and what lies past U+10FFFF are not UTF-8.
  static const long least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < least[length] || (code >= 0xd800 && code < 0xe000) || code > 0x10ffff) return ++*at, -1;
  *at += length;
  return code;
}

std::string escape_xml(std::string_view text) {
  std::string out;
  for (size_t at = 0; at < text.size();) {
    size_t start = at;
    long code = decode_utf8(text, &at);
    if (code < 0 || (code < 0x20 && code != '\t' && code != '\n') || code == 0xfffe || code == 0xffff)
      out += "\xef\xbf\xbd";
    else if (code == '&')
      out += "&amp;";
    else if (code == '<')
      out += "&lt;";
    else if (code == '>')
      out += "&gt;";
    else if (code == '"')
      out += "&quot;";
    else if (code == '\'')
      out += "&#39;";
    else
      out.append(text.substr(start, at - start));
  }
  return out;
}

std::string csv_field(std::string_view text) {
  // A spreadsheet program takes a cell that starts with one of these for a
  // formula and runs it; a lone "-" (standard input) is none.
  bool formula_like = !text.empty() && text != "-" && std::string_view("=+-@\t\r").find(text[0]) != text.npos;
  std::string field = (formula_like ? "'" : "") + std::string(text);
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string quoted = "\"";
  for (char c : field) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}
