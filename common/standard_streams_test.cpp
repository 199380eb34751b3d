// The built programs whose output is their result, started without a
// standard output: each says so and fails, rather than write into nothing or
// measure or relay what no one will see.
#include <gtest/gtest.h>
#include <unistd.h>

#include "test_build.h"

namespace {

TEST(standard_streams, a_closed_standard_output_is_a_failed_write) {
  const std::string capture = REPORT_TEST_DATA "/linux_64mib.txt";
  const struct {
    const char *program;
    std::vector<std::string> args;
    int status;
    std::string err;
  } cases[] = {
      // A file root that would be read, were there an output.
      {"blockmeter", {capture}, 255, "blockmeter: cannot write to standard output: Bad file descriptor\n"},
      {"blockmeter-report",
       {capture},
       1,
       "blockmeter-report: standard output: cannot write the report: Bad file descriptor\n"},
      // With no sender or getter here to start: it must not try.
      {"middleware", {}, 3, "middleware: cannot write to standard output: Bad file descriptor\n"},
  };
  std::string missing;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.program);
    std::string path = program_path(native_build(), c.program);
    if (access(path.c_str(), X_OK) != 0) {
      missing += " " + path;
      continue;
    }
    std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$0\" \"$@\" >&-", path};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    program_options options;
    program_run run;
    ASSERT_TRUE(run_program(argv, &options, &run)) << run.error;
    EXPECT_EQ(c.status, run.status);
    EXPECT_EQ(c.err, run.err);
  }
  if (!missing.empty()) SKIP_OR_FAIL("not built, so not checked:" + missing);
}

}  // namespace
