#include "link.h"

#include <cstdint>

namespace {

constexpr std::string_view link_marker = ", link ";

// A line rate in thousands of bits (or transfers) a second, and how many of
// every line_bits sent carry data.
struct line_rate {
  std::string_view bus;
  int64_t kbit_per_s;
  int data_bits, line_bits;
};

constexpr line_rate known_rates[] = {
    {"SATA", 1500000, 8, 10},     {"SATA", 3000000, 8, 10},     {"SATA", 6000000, 8, 10},
    {"PCIe", 2500000, 8, 10},     {"PCIe", 5000000, 8, 10},     {"PCIe", 8000000, 128, 130},
    {"PCIe", 16000000, 128, 130}, {"PCIe", 32000000, 128, 130}, {"PCIe", 64000000, 128, 130},
    {"USB", 1500, 1, 1},          {"USB", 12000, 1, 1},         {"USB", 480000, 1, 1},
    {"USB", 5000000, 8, 10},      {"USB", 10000000, 128, 132},  {"USB", 20000000, 128, 132},
};

constexpr int known_widths[] = {1, 2, 4, 8, 12, 16, 32};

constexpr struct {
  std::string_view name;
  int64_t kbit_per_s;
} units[] = {{"Gb/s", 1000000}, {"Gbps", 1000000}, {"Gbit/s", 1000000}, {"GT/s", 1000000},
             {"Mb/s", 1000},    {"Mbps", 1000},    {"Mbit/s", 1000}};

// A fact read in the link's form, its rate exact or marked as none that can
// be told exactly.
struct link_fact {
  std::string_view bus, name;
  int64_t kbit_per_s;  // -1: more digits than any known rate has
  int width;           // lanes; -1: more digits than any known width has
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads digits at *at onto *value (times ten for each), and multiplies
// *scale (may be null) by ten for each. Past *budget digits in all, *value
// becomes -1. Returns how many digits there were.
size_t read_digits(std::string_view text, size_t *at, int *budget, int64_t *value, int64_t *scale) {
  size_t start = *at;
  for (; *at < text.size() && is_digit(text[*at]); ++*at) {
    if (--*budget < 0) *value = -1;
    if (*value < 0) continue;
    *value = *value * 10 + (text[*at] - '0');
    if (scale != nullptr) *scale *= 10;
  }
  return *at - start;
}

bool ends_fact(std::string_view text, size_t at) {
  return at == text.size() || text.substr(at).starts_with(", ") || text.substr(at).starts_with("; ");
}

// Reads the fact that starts at start (just past ", link ") when it has the
// link's form.
bool read_link_fact(std::string_view text, size_t start, link_fact *fact) {
  size_t at = start;
  fact->bus = {};
  for (std::string_view bus : {"SATA", "PCIe", "USB"})
    if (text.substr(at).starts_with(bus) && text.substr(at + bus.size()).starts_with(" ")) fact->bus = bus;
  if (fact->bus.empty()) return false;
  at += fact->bus.size() + 1;
  // 12 digits keep a rate in Gb/s exact in kb/s within 64 bits.
  int budget = 12;
  int64_t mantissa = 0, fraction_scale = 1;
  if (read_digits(text, &at, &budget, &mantissa, nullptr) == 0) return false;
  if (at < text.size() && text[at] == '.') {
    ++at;
    if (read_digits(text, &at, &budget, &mantissa, &fraction_scale) == 0) return false;
  }
  if (at < text.size() && text[at] == ' ') ++at;
  int64_t unit_kbit = 0;
  for (const auto &unit : units)
    if (text.substr(at).starts_with(unit.name)) {
      unit_kbit = unit.kbit_per_s;
      at += unit.name.size();
      break;
    }
  if (unit_kbit == 0) return false;
  fact->width = 1;
  if (fact->bus == "PCIe" && text.substr(at).starts_with(" x")) {
    at += 2;
    int budget_of_width = 3;
    int64_t width = 0;
    if (read_digits(text, &at, &budget_of_width, &width, nullptr) == 0) return false;
    fact->width = (int)width;
  }
  if (!ends_fact(text, at)) return false;
  fact->name = text.substr(start, at - start);
  // A rate exact in kb/s is a whole number of them; any other is no known rate.
  bool exact = mantissa >= 0 && mantissa * unit_kbit % fraction_scale == 0;
  fact->kbit_per_s = exact ? mantissa * unit_kbit / fraction_scale : -1;
  return true;
}

}  // namespace

int find_link(std::string_view device, device_link *link, std::string *why) {
  size_t marker = device.rfind(link_marker);
  if (marker == std::string_view::npos) {
    *why = "names no link";
    return -1;
  }
  // A file name may hold ", link " too; the fact is the last one in the link's form.
  link_fact fact;
  size_t at = marker;
  while (!read_link_fact(device, at + link_marker.size(), &fact)) {
    if (at == 0 || (at = device.rfind(link_marker, at - 1)) == std::string_view::npos) {
      size_t end = device.find_first_of(",;", marker + link_marker.size());
      *why = "names no link of a known form (SATA, PCIe or USB, then a rate and its unit): \"" +
             std::string(device.substr(marker + 2, end == std::string_view::npos ? end : end - marker - 2)) +
             "\"";
      return -1;
    }
  }
  std::string name(fact.name);
  const line_rate *rate = nullptr;
  for (const line_rate &known : known_rates)
    if (known.bus == fact.bus && known.kbit_per_s == fact.kbit_per_s) rate = &known;
  if (rate == nullptr) {
    *why = "link " + name + ": no " + std::string(fact.bus) + " link of that rate is known";
    return -1;
  }
  bool width_known = false;
  for (int width : known_widths) width_known = width_known || width == fact.width;
  if (!width_known) {
    *why = "link " + name + ": a PCIe link is 1, 2, 4, 8, 12, 16 or 32 lanes wide";
    return -1;
  }
  link->name = name;
  link->bytes_per_second =
      (double)rate->kbit_per_s * 1000.0 * rate->data_bits / rate->line_bits / 8.0 * fact.width;
  return 0;
}
