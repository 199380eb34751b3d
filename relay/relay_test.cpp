// End-to-end tests of the relay: the built middleware, getter and test sender
// run in a scratch folder, natively and, from the 64-bit Windows build, under
// Wine. Each run is bounded: run_program waits for the middleware and for every
// child that still holds its output.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "test_build.h"
#include "test_sender.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t chunk_size = 1023;

// A fresh folder holding the middleware and, as asked, the getter and the
// test sender under the names the middleware starts; mode says what the
// sender does.
fs::path make_scratch(const test_build *build, const std::string &mode, bool with_sender, bool with_getter) {
  static int serial = 0;
  fs::path dir =
      fs::temp_directory_path() / ("relay_test_" + std::to_string(getpid()) + "_" + std::to_string(++serial));
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::copy_file(program_path(build, "middleware"), dir / ("middleware" + build->suffix));
  if (with_getter) fs::copy_file(program_path(build, "getter"), dir / ("getter" + build->suffix));
  if (with_sender) fs::copy_file(program_path(build, "test_sender"), dir / ("sender" + build->suffix));
  std::ofstream(dir / "sender_mode") << mode << "\n";
  return dir;
}

program_run run_in(const test_build *build, const fs::path &dir, const std::string &name,
                   const std::string *input) {
  program_options options;
  options.cwd = dir.c_str();
  options.input = input;
  options.timeout_ms = build->timeout_ms;
  program_run run;
  EXPECT_TRUE(run_program(build_command(build, (dir / (name + build->suffix)).string()), &options, &run))
      << run.error;
  EXPECT_FALSE(run.timed_out) << name << " (or a child holding its output) did not exit within "
                              << build->timeout_ms / 1000 << " s; output so far:\n"
                              << run.out;
  fs::remove_all(dir);
  return run;
}

program_run run_relay(const test_build *build, const std::string &mode, bool with_sender = true,
                      bool with_getter = true) {
  return run_in(build, make_scratch(build, mode, with_sender, with_getter), "middleware", nullptr);
}

// The getter's first line may come before or after the middleware's part (it
// does not wait for it); its report comes only after it.
void expect_relayed(const test_build *build, const program_run &run, const std::string &bytes) {
  EXPECT_EQ(0, run.status) << "middleware did not report a complete relay";
  std::string middleware = console_text(build, "Middleware proces je vratio:\n" + bytes);
  std::string getting = console_text(build, "Getter:getting....\n");
  std::string report =
      console_text(build, "number of chars read in: " + std::to_string(bytes.size()) + " \ndone\n" + bytes);
  if (run.out != getting + middleware + report) {
    EXPECT_EQ(middleware + getting + report, run.out);
  }
  EXPECT_EQ("", run.err);
}

// The line the middleware writes to standard error after a failure message:
// "middleware: WHAT: REASON". Natively the reason is glibc's known text; on
// Windows it is the system's own, which only has to be there.
void expect_reason(const test_build *build, const program_run &run, const std::string &what,
                   const std::string &native_reason) {
  std::string start = "middleware: " + what + ": ";
  if (!build->wine) {
    EXPECT_EQ(start + native_reason + "\n", run.err);
    return;
  }
  std::vector<std::string> lines = split_lines(run.err);
  ASSERT_EQ(1u, lines.size()) << "not one line on standard error:\n" << run.err;
  EXPECT_EQ(0u, lines[0].find(start)) << lines[0];
  EXPECT_GT(lines[0].size(), start.size()) << "no reason after: " << lines[0];
  EXPECT_EQ(console_text(build, lines[0] + "\n"), run.err);
}

// A child's program file as the middleware names it in its reasons.
std::string started_as(const test_build *build, const std::string &name) {
  return build->wine ? name + build->suffix : "./" + name;
}

class relay : public each_build {};

TEST_P(relay, relays_first_chunk_byte_for_byte) {
  for (const char *mode : {"short", "slow", "large", "binary"}) {
    SCOPED_TRACE(std::string("sender mode ") + mode);
    program_run run = run_relay(build(), mode);
    expect_relayed(build(), run, test_message(mode).substr(0, chunk_size));
  }
}

TEST_P(relay, silent_sender_ends_relay) {
  program_run run = run_relay(build(), "silent");
  expect_relayed(build(), run, "");
}

TEST_P(relay, children_hold_only_their_handles) {
  program_run run = run_relay(build(), "handles");
  expect_relayed(build(), run, test_message("handles"));
}

// The child's end of pipe A, seen from inside the sender.
TEST_P(relay, pipes_are_not_open_to_every_account) {
  program_run run = run_relay(build(), "access");
  expect_relayed(build(), run, test_message("access"));
}

// Each message keeps its text on standard output; the reason follows on
// standard error.
TEST_P(relay, start_failures) {
  std::string sender = "cannot start " + started_as(build(), "sender");
  {
    SCOPED_TRACE("no sender");
    program_run run = run_relay(build(), "short", false, true);
    EXPECT_EQ("Kreiranje senderproc : greska", run.out) << "getter started without a sender?";
    expect_reason(build(), run, sender, "No such file or directory");
    EXPECT_EQ(2, run.status);
  }
  {
    // Natively a file without execute permission; on Windows a file that is
    // no program.
    SCOPED_TRACE("sender not executable");
    fs::path dir = make_scratch(build(), "short", false, true);
    std::ofstream(dir / ("sender" + build()->suffix)) << "not a program\n";
    program_run run = run_in(build(), dir, "middleware", nullptr);
    EXPECT_EQ("Kreiranje senderproc : greska", run.out);
    expect_reason(build(), run, sender, "Permission denied");
    EXPECT_EQ(2, run.status);
  }
  {
    SCOPED_TRACE("no getter");
    program_run run = run_relay(build(), "short", true, false);
    EXPECT_EQ("Kreiranje getterproc : greska", run.out);
    expect_reason(build(), run, "cannot start " + started_as(build(), "getter"), "No such file or directory");
    EXPECT_EQ(2, run.status);
  }
}

TEST_P(relay, getter_by_hand) {
  for (std::string input : {std::string("0123456789"), test_message("large"), std::string()}) {
    SCOPED_TRACE(std::to_string(input.size()) + " bytes of input");
    program_run run = run_in(build(), make_scratch(build(), "", false, true), "getter", &input);
    std::string shown = input.substr(0, chunk_size);
    EXPECT_EQ(console_text(build(), "Getter:getting....\nnumber of chars read in: " +
                                        std::to_string(shown.size()) + " \ndone\n" + shown),
              run.out);
    EXPECT_EQ(0, run.status);
  }
}

INSTANTIATE_ON_EACH_BUILD(relay);

// With too few descriptors for a pipe: pipe A (no key wait), then pipe B.
TEST(relay_native, pipe_failures) {
  for (int limit : {4, 5}) {
    SCOPED_TRACE("descriptor limit " + std::to_string(limit));
    fs::path dir = make_scratch(native_build(), "short", true, true);
    program_options options;
    options.cwd = dir.c_str();
    options.timeout_ms = native_build()->timeout_ms;
    program_run run;
    // The sanitizers' leak check needs descriptors of its own at exit.
    ASSERT_TRUE(run_program({"/usr/bin/env", "ASAN_OPTIONS=detect_leaks=0", "/bin/sh", "-c",
                             "ulimit -n " + std::to_string(limit) + " && exec ./middleware"},
                            &options, &run))
        << run.error;
    fs::remove_all(dir);
    EXPECT_FALSE(run.timed_out) << "middleware did not exit within " << options.timeout_ms / 1000 << " s";
    EXPECT_EQ("Kreiranje cijevi : greska", run.out);
    expect_reason(native_build(), run, "cannot create a pipe", "Too many open files");
    EXPECT_EQ(1, run.status);
  }
}

// A relay whose standard output takes nothing is no success: status 3, and
// the reason on standard error.
TEST(relay_native, a_failed_write_to_standard_output_fails) {
  if (access("/dev/full", W_OK) != 0) SKIP_OR_FAIL("/dev/full is missing: no device that refuses writes");
  fs::path dir = make_scratch(native_build(), "short", true, true);
  program_options options;
  options.cwd = dir.c_str();
  options.timeout_ms = native_build()->timeout_ms;
  program_run run;
  ASSERT_TRUE(run_program({"/bin/sh", "-c", "exec ./middleware >/dev/full"}, &options, &run)) << run.error;
  fs::remove_all(dir);
  EXPECT_FALSE(run.timed_out) << "middleware did not exit within " << options.timeout_ms / 1000 << " s";
  EXPECT_EQ(3, run.status);
  EXPECT_EQ("middleware: cannot write to standard output: No space left on device\n", run.err);
}

// Started with standard input and error closed, the middleware puts the null
// device there before it makes its pipes: no pipe end is ever descriptor 0, 1
// or 2 (where the children's standard handles or our messages would mix with
// the relayed bytes), and the relay still completes. (Without standard output
// it makes no pipe at all.)
TEST(relay_native, closed_standard_streams_are_no_pipe_ends) {
  if (access("/usr/bin/strace", X_OK) != 0) SKIP_OR_FAIL("strace not found (Debian package: strace)");
  fs::path dir = make_scratch(native_build(), "short", true, true);
  std::string trace = (dir / "pipes.trace").string();
  program_options options;
  options.cwd = dir.c_str();
  options.timeout_ms = native_build()->timeout_ms;
  program_run run;
  // The sanitizers' leak check cannot work in a traced process.
  ASSERT_TRUE(
      run_program({"/usr/bin/env", "ASAN_OPTIONS=detect_leaks=0", "/usr/bin/strace", "-f", "-qq", "-o", trace,
                   "-e", "trace=pipe,pipe2", "/bin/sh", "-c", "exec ./middleware <&- 2>&-"},
                  &options, &run))
      << run.error;
  std::ifstream file(trace);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  fs::remove_all(dir);
  EXPECT_FALSE(run.timed_out) << "middleware did not exit within " << options.timeout_ms / 1000 << " s";
  expect_relayed(native_build(), run, test_message("short"));

  const std::regex created(R"(pipe2?\(\[(\d+), (\d+)\])");
  int pipes = 0;
  for (const std::string &line : lines) {
    std::smatch ends;
    if (!std::regex_search(line, ends, created)) continue;
    ++pipes;
    EXPECT_GE(std::stoi(ends[1]), 3) << line;
    EXPECT_GE(std::stoi(ends[2]), 3) << line;
  }
  EXPECT_GE(pipes, 2) << "strace saw fewer pipes than the middleware's two";
}

}  // namespace
