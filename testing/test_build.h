// The builds whose programs a test runs: this Linux build, and the 64-bit
// Windows build under Wine when this build was configured with its folder
// (WIN64_BIN_DIR; the native preset sets it). A case that should hold on both
// is written once, as a test of a fixture derived from each_build, and
// instantiated with INSTANTIATE_ON_EACH_BUILD; a case for Windows alone with
// INSTANTIATE_ON_WINDOWS_BUILD. A configured build that cannot run here (no
// Wine, or not built yet) is skipped with the reason, and fails under CI.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_program.h"

struct test_build {
  const char *name;      // in test names: "native" or "wine"
  std::string bin;       // folder of its programs
  std::string suffix;    // of program files: "" or ".exe"
  std::string line_end;  // a line feed on standard output, as its C library writes it
  std::string enter;     // the Enter key, as the program's terminal input must carry it
  bool wine;             // run under Wine
  int timeout_ms;        // bound on one run of one of its programs (Wine starts slowly)
};

const test_build *native_build();
const test_build *wine_build();

// native_build(), then wine_build() when it is configured.
std::vector<const test_build *> configured_builds();
// wine_build() when it is configured; else none.
std::vector<const test_build *> windows_builds();

// Why the build's programs cannot be run here, or an empty string.
std::string build_missing(const test_build *build);

// The path of the build's program name ("getter": bin/getter or bin/getter.exe).
std::string program_path(const test_build *build, const std::string &name);

// The command that runs the program at path (a program of build), with args.
std::vector<std::string> build_command(const test_build *build, const std::string &path,
                                       const std::vector<std::string> &args = {});

// The Wine prefix the Windows programs run in (its dosdevices map drive letters).
std::string wine_prefix();

// Text as the build writes it to standard output: CR LF for each line feed on
// Windows, whose standard output is a text stream.
std::string console_text(const test_build *build, const std::string &text);

// The lines of text, without their line ends (LF or CR LF).
std::vector<std::string> split_lines(const std::string &text);

// Skips the current test (fails it under CI) when build cannot run here.
#define SKIP_UNLESS_RUNNABLE(build)                \
  do {                                             \
    std::string missing_ = build_missing(build);   \
    if (!missing_.empty()) SKIP_OR_FAIL(missing_); \
  } while (0)

class each_build : public testing::TestWithParam<const test_build *> {
 protected:
  void SetUp() override { SKIP_UNLESS_RUNNABLE(build()); }
  const test_build *build() const { return GetParam(); }
};

// Runs every test of suite (a fixture derived from each_build) on each
// configured build, named suite.case/native and suite.case/wine.
#define INSTANTIATE_ON_EACH_BUILD(suite) \
  INSTANTIATE_TEST_SUITE_P(, suite, testing::ValuesIn(configured_builds()), build_name)

// Runs every test of suite on the Windows build only, when it is configured.
#define INSTANTIATE_ON_WINDOWS_BUILD(suite)             \
  GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(suite); \
  INSTANTIATE_TEST_SUITE_P(, suite, testing::ValuesIn(windows_builds()), build_name)

std::string build_name(const testing::TestParamInfo<const test_build *> &info);
