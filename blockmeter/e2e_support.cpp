#include "e2e_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

constexpr int run_timeout_ms = 120000;

void make_file(const std::string &path, size_t bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  uint32_t state = 12345;
  for (size_t i = 0; i < bytes; ++i) file.put((char)((state = state * 1103515245u + 12345u) >> 24));
}

program_run run_blockmeter(const std::vector<std::string> &args, const test_build *build, int limit_ms) {
  program_options options;
  options.timeout_ms = limit_ms > 0 ? limit_ms : std::max(run_timeout_ms, build->timeout_ms);
  program_run run;
  EXPECT_TRUE(run_program(build_command(build, program_path(build, "blockmeter"), args), &options, &run))
      << run.error;
  if (limit_ms == 0) {
    EXPECT_FALSE(run.timed_out) << "blockmeter did not end within " << options.timeout_ms / 1000 << " s";
  }
  return run;
}

const std::vector<std::string> as_nobody = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                            "--clear-groups"};

program_run run_blockmeter_under(const std::vector<std::string> &prefix,
                                 const std::vector<std::string> &args) {
  std::vector<std::string> argv = prefix;
  argv.push_back(program_path(native_build(), "blockmeter"));
  argv.insert(argv.end(), args.begin(), args.end());
  program_options options;
  options.timeout_ms = run_timeout_ms;
  program_run run;
  EXPECT_TRUE(run_program(argv, &options, &run)) << run.error;
  EXPECT_FALSE(run.timed_out) << "blockmeter did not end within " << options.timeout_ms / 1000 << " s";
  return run;
}

void check_read_reports(const std::string &err, const std::vector<std::string> &roots) {
  for (const std::string &line : split_lines(err)) {
    const std::string *root = nullptr;
    bool loop_warning = false;
    for (const std::string &candidate : roots) {
      if (line.starts_with("blockmeter: " + candidate + ": ")) root = &candidate;
      loop_warning = loop_warning || line.starts_with("blockmeter: warning: " + candidate + " is ");
    }
    if (loop_warning) continue;
    ASSERT_NE(nullptr, root) << "names none of the roots: " << line;
    const char *row = line.c_str() + strlen("blockmeter: : ") + root->size();
    if (strncmp(row, "reading ", strlen("reading ")) == 0) continue;  // its device line
    long long key = 0;
    int bad = 0, reads = 0, end = 0;
    bool parsed = sscanf(row, "sequential %lld blocks: %d of %d reads failed or came back short; first: %n",
                         &key, &bad, &reads, &end) == 3 ||
                  sscanf(row, "random range %lld: %d of %d reads failed or came back short; first: %n", &key,
                         &bad, &reads, &end) == 3;
    EXPECT_TRUE(parsed && bad >= 1 && bad <= reads && end > 0 && row[end] != '\0') << line;
  }
}
