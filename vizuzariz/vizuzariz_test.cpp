// End-to-end tests of vizuzariz: the Linux build, and the Windows 64-bit
// build under Wine. Input is given either late, on a pseudo-terminal once all
// 600 lines have appeared, or early, through a pipe before the program
// reads, which ends the process while the second thread may still print.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "test_build.h"

namespace {

std::vector<int> all_values() {
  std::vector<int> values;
  for (int i = 0; i < 10; ++i)
    for (int j = 0; j < 30; ++j) values.push_back(i * 1000 + j + 1);
  return values;
}

// Checks that every line is a whole line of one thread and that the output
// ends with a line end; the main thread's lines must be all 300, once each
// and in order; the second thread's the same or, when the process may have
// ended it early, the start of its sequence.
void expect_whole_lines(const std::string &out, const std::string &line_end, bool second_complete,
                        const std::string &run) {
  std::vector<int> first, second, values = all_values();
  size_t start = 0, bad = 0;
  std::string first_bad;
  for (size_t end; (end = out.find(line_end, start)) != std::string::npos; start = end + line_end.size()) {
    std::string line = out.substr(start, end - start);
    int value = 0;
    bool is_second = line.starts_with("Nit II");
    if (sscanf(line.c_str(), is_second ? "Nit II : i=%d" : "Nit I : i=%d", &value) == 1 &&
        line == (is_second ? "Nit II : i=" : "Nit I : i=") + std::to_string(value) + " ")
      (is_second ? second : first).push_back(value);
    else if (bad++ == 0)
      first_bad = line;
  }
  EXPECT_EQ(0u, bad) << run << bad << " lines are not whole lines of one thread, the first: \"" << first_bad
                     << "\"";
  EXPECT_EQ("", out.substr(start)) << run << "output ends in the middle of a line";
  EXPECT_EQ(values, first) << run << "the main thread's " << first.size()
                           << " lines are not its 300 lines once each, in order";
  if (second_complete)
    EXPECT_EQ(values, second) << run << "the second thread's " << second.size()
                              << " lines are not its 300 lines once each, in order";
  else
    EXPECT_TRUE(second.size() <= values.size() && std::equal(second.begin(), second.end(), values.begin()))
        << run << "the second thread's " << second.size() << " lines are not the start of its sequence";
}

// Console text as Wine draws it on a terminal: control sequences dropped,
// cursor moves to the right turned back into the blanks they stand for, and
// carriage returns and empty lines left out.
std::string screen_text(const std::string &raw) {
  std::string text;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\033' && i + 1 < raw.size() && raw[i + 1] == '[') {
      size_t end = i + 2;
      while (end < raw.size() && (raw[end] < 0x40 || raw[end] > 0x7e)) ++end;
      if (end < raw.size() && raw[end] == 'C') text.append(std::max(1, atoi(&raw[i + 2])), ' ');
      i = end;
    } else if (raw[i] == '\033' && i + 1 < raw.size() && raw[i + 1] == ']') {
      while (i < raw.size() && raw[i] != '\a') ++i;
    } else if (raw[i] == '\n') {
      if (!text.empty() && text.back() != '\n') text += '\n';
    } else if (raw[i] != '\r') {
      text += raw[i];
    }
  }
  return text;
}

class vizuzariz : public each_build {
 protected:
  std::vector<std::string> command() const {
    return build_command(build(), program_path(build(), "vizuzariz"));
  }
};

// Enter typed on a terminal only after all 600 lines have appeared.
TEST_P(vizuzariz, enter_after_all_output_shows_600_whole_lines_and_exits_10) {
  program_options options;
  options.terminal = true;
  options.keys = build()->enter;
  options.keys_after_lines = 600;
  options.timeout_ms = build()->timeout_ms;
  program_run run;
  ASSERT_TRUE(run_program(command(), &options, &run)) << run.error;
  ASSERT_EQ("", run.error);
  ASSERT_FALSE(run.timed_out) << "did not end within " << options.timeout_ms << " ms; "
                              << std::count(run.out.begin(), run.out.end(), '\n') << " lines appeared";
  EXPECT_EQ(10, run.status) << "exit status is not the code of the Enter read";
  expect_whole_lines(build()->wine ? screen_text(run.out) : run.out, "\n", true, "");
}

// Input already waiting ends the process while the second thread may be
// printing into the same buffer: the case that tears lines or writes them
// twice when the exit-time flush races that thread. Repeated to meet the race.
void check_waiting_character(const test_build *build, const std::vector<std::string> &command, int runs) {
  const std::string inputs[] = {"q", "\n", ""};
  const int statuses[] = {'q', 10, 255};  // 255: the end-of-file value -1, as both show it
  for (int i = 0; i < runs && !testing::Test::HasFailure(); ++i) {
    program_options options;
    options.input = &inputs[i % 3];
    options.timeout_ms = build->timeout_ms;
    program_run run;
    std::string at = "run " + std::to_string(i) + ": ";
    ASSERT_TRUE(run_program(command, &options, &run)) << run.error;
    ASSERT_FALSE(run.timed_out) << at << "did not end within " << options.timeout_ms << " ms of its input";
    EXPECT_EQ(0, run.signal) << at << "ended by signal " << run.signal;
    EXPECT_EQ(statuses[i % 3], run.status)
        << at << "exit status is not that of input \"" << inputs[i % 3] << "\"";
    expect_whole_lines(run.out, build->line_end, false, at);
  }
}

// Natively each run takes a few milliseconds, and a thousand meet the race
// reliably; each start under Wine costs seconds: one run per kind of input.
TEST_P(vizuzariz, waiting_character_ends_the_process_with_its_code_and_whole_lines) {
  check_waiting_character(build(), command(), build()->wine ? 3 : 1000);
}

INSTANTIATE_ON_EACH_BUILD(vizuzariz);

// A second thread that cannot start (here: its stack does not fit in memory)
// must not take the main thread down with it.
TEST(vizuzariz_native, thread_that_cannot_start_goes_unnoticed) {
  check_waiting_character(
      native_build(),
      {"/bin/sh", "-c", "ulimit -s 4000000000 && exec \"$0\"", program_path(native_build(), "vizuzariz")}, 1);
}

}  // namespace
