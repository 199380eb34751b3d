// The captured blockmeter outputs under testdata/, and what the report's
// tests do with texts, for the tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
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

// One input parsed by parse_file from a temporary file of bytes, with what
// it found there when found is given. A failure to write or parse the file
// fails the test.
inline report_input parse_bytes(const std::string &bytes, std::string *found = nullptr) {
  report_input input;
  FILE *file = tmpfile();
  EXPECT_NE(nullptr, file);
  if (file == nullptr) return input;
  EXPECT_EQ(bytes.size(), fwrite(bytes.data(), 1, bytes.size(), file));
  rewind(file);
  std::string why;
  EXPECT_EQ(0, parse_file(file, &input, &why, found)) << why;
  fclose(file);
  return input;
}

// How many times what occurs in text, overlapping ones counted.
inline size_t count_in(const std::string &text, const std::string &what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}
