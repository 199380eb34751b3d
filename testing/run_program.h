// Running a built program from a test: its output captured, its input given,
// its run bounded in time.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

struct program_options {
  const char *cwd = nullptr;           // folder to run in; null: the test's own
  const std::string *input = nullptr;  // bytes for its standard input, then end of input;
                                       // null: standard input is /dev/null
  int timeout_ms = 60000;              // killed (with its whole session) after this long
  bool new_session = true;             // no controlling terminal, so no key wait can block
};

struct program_run {
  std::string out;         // standard output, byte for byte
  std::string err;         // standard error
  int status = -1;         // exit status 0..255, or -1 when ended by a signal
  int signal = 0;          // the signal that ended it, or 0
  bool timed_out = false;  // it was killed for running past timeout_ms
  std::string error;       // why it could not be started; empty when it ran
};

// Runs argv[0] (a path, not looked up) with the given arguments and waits for it
// to end or time out. Returns false, with run->error set, when it could not start.
bool run_program(const std::vector<std::string> &argv, const program_options *options, program_run *run);

// Folder of the programs of the build under test.
std::string bin_dir();

// Wine: the launcher script and prefix, and the folder of the 64-bit Windows
// build. wine_missing() returns why the Windows programs cannot be run here, or
// an empty string when they can.
std::string wine_missing();
std::vector<std::string> wine_command(const std::string &program);
std::string win64_bin_dir();
std::string wine_prefix();

// Skips the current test with a reason, or fails it when REQUIRE_ALL_TESTS is
// set in the environment (as CI sets it), so that nothing is skipped there unseen.
#define SKIP_OR_FAIL(reason)                                                                              \
  do {                                                                                                    \
    if (getenv("REQUIRE_ALL_TESTS") != nullptr) FAIL() << "required but not possible here: " << (reason); \
    GTEST_SKIP() << (reason);                                                                             \
  } while (0)
