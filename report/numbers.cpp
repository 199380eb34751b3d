#include "numbers.h"

#include <charconv>
#include <cstdarg>
#include <cstdio>

static bool format_failed = false;

bool number_format_failed() { return format_failed; }

// printf into a string of the length it needs; a format that fails yields
// nothing and marks the report as failed.
static std::string format_number(const char *format, ...) {
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  int length = vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (length >= 0) {
    text.resize((size_t)length + 1);
    if (vsnprintf(text.data(), text.size(), format, again) != length) length = -1;
    text.resize(length >= 0 ? (size_t)length : 0);
  }
  va_end(again);
  if (length < 0) format_failed = true;
  return text;
}

std::string format_fixed(double value, int decimals) { return format_number("%.*f", decimals, value); }

// to_chars into a buffer; one it does not fit is no text but a failed report.
template <typename... Form>
static std::string chars_of(double value, Form... form) {
  // The fixed form of any double fits: at most 309 digits before the point,
  // and the least subnormal's shortest form is 326 characters long.
  char text[400];
  auto result = std::to_chars(text, text + sizeof text, value, form...);
  if (result.ec != std::errc()) {
    format_failed = true;
    return std::string();
  }
  return std::string(text, result.ptr);
}

std::string format_exact(double value) { return chars_of(value, std::chars_format::fixed); }

std::string format_shortest(double value) { return chars_of(value); }

std::string format_p(double p) {
  return p >= 0.001 || p == 0 ? format_fixed(p, 3) : format_number("%.3g", p);
}

std::string format_general(double value, int digits) { return format_number("%.*g", digits, value); }

std::string format_size(double bytes) {
  static const char *const units[] = {"B", "KiB", "MiB", "GiB"};
  int unit = 0;
  while (unit < 3 && bytes >= 1024) bytes /= 1024, ++unit;
  return format_general(bytes, 4) + " " + units[unit];
}
