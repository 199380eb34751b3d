// The captured blockmeter outputs under testdata/, for the tests.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

#include "report.h"

// The bytes of testdata/name; empty when it cannot be read.
inline std::string read_test_data(const std::string &name) {
  std::ifstream file(std::string(REPORT_TEST_DATA) + "/" + name, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

// One input parsed from a text, named name.
inline report_input parse_named(const std::string &name, const std::string &text) {
  report_input input;
  input.name = name;
  parse_text(text, &input);
  return input;
}
