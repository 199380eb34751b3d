// Running a built program from a test: its input given, its output captured,
// its run bounded in time. Linux only: the Windows programs are run from here
// too, under Wine (test_build.h).
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

  // On a pseudo-terminal of its own instead: standard input, output and error
  // are the terminal, which neither echoes nor turns line feeds into CR LF nor
  // a typed CR into a line feed, so out is exactly what the program wrote.
  // keys are typed once keys_after_lines line feeds have appeared; input and
  // new_session do not apply.
  bool terminal = false;
  std::string keys;
  size_t keys_after_lines = 0;
};

struct program_run {
  std::string out;         // standard output, byte for byte (on a terminal: all output)
  std::string err;         // standard error
  int status = -1;         // exit status 0..255, or -1 when ended by a signal or killed
  int signal = 0;          // the signal that ended it, or 0
  bool timed_out = false;  // it was killed for running past timeout_ms
  std::string error;       // why it could not be started or typed to; empty when all went well
};

// Runs argv[0] (a path, not looked up) with the given arguments, with no open
// descriptor of ours but its standard ones, and waits for it to end or time
// out. Returns false, with run->error set, when it could not start.
bool run_program(const std::vector<std::string> &argv, const program_options *options, program_run *run);

// Runs a shell command line (sh -c) within a minute. Returns its standard
// output; *ok is false when it failed, and why goes to standard error.
std::string shell(const std::string &command, bool *ok);

// Folder of the programs of the build under test.
std::string bin_dir();

// A scratch folder of the build's own for this suite's files, made if missing.
std::string scratch_dir(const std::string &suite);

// Skips the current test with a reason, or fails it when REQUIRE_ALL_TESTS is
// set in the environment (as CI sets it), so that nothing is skipped there unseen.
#define SKIP_OR_FAIL(reason)                                                                              \
  do {                                                                                                    \
    if (getenv("REQUIRE_ALL_TESTS") != nullptr) FAIL() << "required but not possible here: " << (reason); \
    GTEST_SKIP() << (reason);                                                                             \
  } while (0)
