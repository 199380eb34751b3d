// End-to-end tests of the relay: the built middleware, getter and test sender
// run in a scratch folder, natively and, from the 64-bit Windows build, under
// Wine. Each run is bounded: run_program waits for the middleware and for every
// child that still holds its output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "run_program.h"
#include "test_sender.h"

namespace fs = std::filesystem;

struct relay_build {
  std::string bin;     // folder with middleware, getter and test_sender
  std::string suffix;  // of program files
  bool wine;
  int timeout_ms;
};

static const relay_build native_build = {bin_dir(), "", false, 10000};
static const relay_build windows_build = {RELAY_WIN64_BIN_DIR, ".exe", true, 60000};

constexpr size_t chunk_size = 1023;

// Console text as the build writes it: Windows's text mode turns LF into CR LF.
static std::string console(const relay_build *build, const std::string &text) {
  if (!build->wine) return text;
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

static std::vector<std::string> command(const relay_build *build, const fs::path &program) {
  if (build->wine) return wine_command(program.string());
  return {program.string()};
}

// A fresh folder holding the middleware and, as asked, the getter and the
// test sender under the names the middleware starts; sender_mode says what
// the sender does.
static fs::path make_scratch(const relay_build *build, const std::string &mode, bool with_sender,
                             bool with_getter) {
  static int serial = 0;
  fs::path dir =
      fs::temp_directory_path() / ("relay_test_" + std::to_string(getpid()) + "_" + std::to_string(++serial));
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::path bin = build->bin;
  fs::copy_file(bin / ("middleware" + build->suffix), dir / ("middleware" + build->suffix));
  if (with_getter) fs::copy_file(bin / ("getter" + build->suffix), dir / ("getter" + build->suffix));
  if (with_sender) fs::copy_file(bin / ("test_sender" + build->suffix), dir / ("sender" + build->suffix));
  std::ofstream(dir / "sender_mode") << mode << "\n";
  return dir;
}

static program_run run_in(const relay_build *build, const fs::path &dir, const std::string &name,
                          const std::string *input) {
  program_options options;
  options.cwd = dir.c_str();
  options.input = input;
  options.timeout_ms = build->timeout_ms;
  program_run run;
  EXPECT_TRUE(run_program(command(build, dir / (name + build->suffix)), &options, &run)) << run.error;
  EXPECT_FALSE(run.timed_out) << name << " (or a child holding its output) did not exit within "
                              << build->timeout_ms / 1000 << " s; output so far:\n"
                              << run.out;
  fs::remove_all(dir);
  return run;
}

static program_run run_relay(const relay_build *build, const std::string &mode, bool with_sender = true,
                             bool with_getter = true) {
  return run_in(build, make_scratch(build, mode, with_sender, with_getter), "middleware", nullptr);
}

// The getter's first line may come before or after the middleware's part (it
// does not wait for it); its report comes only after it.
static void expect_relayed(const relay_build *build, const program_run &run, const std::string &bytes) {
  EXPECT_EQ(run.status, 0) << "middleware did not report a complete relay";
  std::string middleware = console(build, "Middleware proces je vratio:\n" + bytes);
  std::string getting = console(build, "Getter:getting....\n");
  std::string report =
      console(build, "number of chars read in: " + std::to_string(bytes.size()) + " \ndone\n" + bytes);
  if (run.out != getting + middleware + report) {
    EXPECT_EQ(run.out, middleware + getting + report);
  }
  EXPECT_EQ(run.err, "");
}

static void check_relays_first_chunk(const relay_build *build) {
  for (const char *mode : {"short", "slow", "large", "binary"}) {
    SCOPED_TRACE(std::string("sender mode ") + mode);
    program_run run = run_relay(build, mode);
    expect_relayed(build, run, test_message(mode).substr(0, chunk_size));
  }
}

static void check_silent_sender_ends_relay(const relay_build *build) {
  program_run run = run_relay(build, "silent");
  expect_relayed(build, run, "");
}

static void check_children_hold_only_their_handles(const relay_build *build) {
  program_run run = run_relay(build, "handles");
  expect_relayed(build, run, test_message("handles"));
}

static void check_start_failures(const relay_build *build) {
  {
    SCOPED_TRACE("no sender");
    program_run run = run_relay(build, "short", false, true);
    EXPECT_EQ(run.out, "Kreiranje senderproc : greska") << "getter started without a sender?";
    EXPECT_EQ(run.status, 2);
  }
  {
    SCOPED_TRACE("sender not a program");
    fs::path dir = make_scratch(build, "short", false, true);
    std::ofstream(dir / ("sender" + build->suffix)) << "not a program\n";
    program_run run = run_in(build, dir, "middleware", nullptr);
    EXPECT_EQ(run.out, "Kreiranje senderproc : greska");
    EXPECT_EQ(run.status, 2);
  }
  {
    SCOPED_TRACE("no getter");
    program_run run = run_relay(build, "short", true, false);
    EXPECT_EQ(run.out, "Kreiranje getterproc : greska");
    EXPECT_EQ(run.status, 2);
  }
}

static void check_getter_by_hand(const relay_build *build) {
  for (std::string input : {std::string("0123456789"), test_message("large"), std::string()}) {
    SCOPED_TRACE(std::to_string(input.size()) + " bytes of input");
    program_run run = run_in(build, make_scratch(build, "", false, true), "getter", &input);
    std::string shown = input.substr(0, chunk_size);
    EXPECT_EQ(run.out, console(build, "Getter:getting....\nnumber of chars read in: " +
                                          std::to_string(shown.size()) + " \ndone\n" + shown));
    EXPECT_EQ(run.status, 0);
  }
}

TEST(relay_native, relays_first_chunk_byte_for_byte) { check_relays_first_chunk(&native_build); }
TEST(relay_native, silent_sender_ends_relay) { check_silent_sender_ends_relay(&native_build); }
TEST(relay_native, children_hold_only_their_handles) {
  check_children_hold_only_their_handles(&native_build);
}
TEST(relay_native, start_failures) { check_start_failures(&native_build); }
TEST(relay_native, getter_by_hand) { check_getter_by_hand(&native_build); }

// Descriptors the test runner left open in us would pass to the programs
// we run and take places below their descriptor limit.
static void keep_descriptors_from_programs() {
  for (const fs::directory_entry &entry : fs::directory_iterator("/proc/self/fd")) {
    int fd = std::stoi(entry.path().filename().string());
    if (fd > 2) fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
}

// With too few descriptors for a pipe: pipe A (no key wait), then pipe B.
TEST(relay_native, pipe_failures) {
  keep_descriptors_from_programs();
  for (int limit : {4, 5}) {
    SCOPED_TRACE("descriptor limit " + std::to_string(limit));
    fs::path dir = make_scratch(&native_build, "short", true, true);
    program_options options;
    options.cwd = dir.c_str();
    options.timeout_ms = native_build.timeout_ms;
    program_run run;
    ASSERT_TRUE(run_program({"/bin/sh", "-c", "ulimit -n " + std::to_string(limit) + " && exec ./middleware"},
                            &options, &run))
        << run.error;
    fs::remove_all(dir);
    EXPECT_FALSE(run.timed_out) << "middleware did not exit within 10 s";
    EXPECT_EQ(run.out, "Kreiranje cijevi : greska");
    EXPECT_EQ(run.status, 1);
  }
}

#define WINE_TEST(name, check)                   \
  TEST(relay_wine, name) {                       \
    std::string missing = wine_missing();        \
    if (!missing.empty()) SKIP_OR_FAIL(missing); \
    check(&windows_build);                       \
  }

WINE_TEST(relays_first_chunk_byte_for_byte, check_relays_first_chunk)
WINE_TEST(silent_sender_ends_relay, check_silent_sender_ends_relay)
WINE_TEST(children_hold_only_their_handles, check_children_hold_only_their_handles)
WINE_TEST(start_failures, check_start_failures)
WINE_TEST(getter_by_hand, check_getter_by_hand)
