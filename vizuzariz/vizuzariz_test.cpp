// End-to-end tests of vizuzariz: the Linux build, and the Windows 64-bit
// build under Wine. Input is given either late, on a pseudo-terminal once all
// 600 lines have appeared, or early, through a pipe before the program
// reads, which ends the process while the second thread may still print.
#include <errno.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "run_program.h"

namespace {

struct terminal_run {
  std::string out;
  int status = -1;
  bool timed_out = false;
  std::string error;
};

// One build of the program, and how to run it and read its output.
struct program {
  std::vector<std::string> command;
  std::string line_end;  // Windows writes text-mode standard output with CR LF
  std::string enter;     // the Enter key as the program's terminal input must carry it
  int timeout_ms;
  bool on_wine;
};

long long now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

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
  EXPECT_EQ(bad, 0u) << run << bad << " lines are not whole lines of one thread, the first: \"" << first_bad
                     << "\"";
  EXPECT_EQ(out.substr(start), "") << run << "output ends in the middle of a line";
  EXPECT_EQ(first, values) << run << "the main thread's " << first.size()
                           << " lines are not its 300 lines once each, in order";
  if (second_complete)
    EXPECT_EQ(second, values) << run << "the second thread's " << second.size()
                              << " lines are not its 300 lines once each, in order";
  else
    EXPECT_TRUE(second.size() <= values.size() && std::equal(second.begin(), second.end(), values.begin()))
        << run << "the second thread's " << second.size() << " lines are not the start of its sequence";
}

// Runs argv on a new pseudo-terminal, as from a console, and types keys once
// `lines` line feeds have appeared. The terminal neither echoes nor turns line
// feeds into CR LF, so the output is what the program wrote, nor turns a
// typed CR into a line feed.
void run_on_terminal(const std::vector<std::string> &args, size_t lines, const std::string &keys,
                     int timeout_ms, terminal_run *run) {
  std::vector<char *> argv;
  for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
  argv.push_back(nullptr);
  winsize size = {25, 80, 0, 0};
  int master = -1;
  pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  if (pid < 0) {
    run->error = std::string("forkpty: ") + strerror(errno);
    return;
  }
  if (pid == 0) {
    termios mode;
    if (tcgetattr(0, &mode) == 0) {
      mode.c_lflag &= ~(tcflag_t)ECHO;
      mode.c_oflag &= ~(tcflag_t)ONLCR;
      // Wine's console reads the raw key and takes a line feed for Ctrl+J,
      // which ends no line; it may read before it puts the terminal in raw mode.
      mode.c_iflag &= ~(tcflag_t)ICRNL;
      tcsetattr(0, TCSANOW, &mode);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  long long deadline = now_ms() + timeout_ms;
  bool typed = false, exited = false, master_open = true;
  int wstatus = 0;
  while (!exited) {
    long long left = deadline - now_ms();
    if (left <= 0) {
      run->timed_out = true;
      kill(-pid, SIGKILL);
      waitpid(pid, &wstatus, 0);
      break;
    }
    // Wakes now and then to see whether the program ended while some other
    // process still holds the terminal open, or is still running after
    // closing it.
    pollfd fd = {master_open ? master : -1, POLLIN, 0};
    if (poll(&fd, 1, (int)std::min(left, 50LL)) > 0) {
      char chunk[65536];
      ssize_t n = read(master, chunk, sizeof chunk);
      if (n > 0) run->out.append(chunk, (size_t)n);
      // EIO: every slave end is closed.
      if (n <= 0 && errno != EINTR && errno != EAGAIN) master_open = false;
    }
    exited = waitpid(pid, &wstatus, WNOHANG) == pid;
    if (!typed && (size_t)std::count(run->out.begin(), run->out.end(), '\n') >= lines) {
      if (write(master, keys.data(), keys.size()) != (ssize_t)keys.size())
        run->error = std::string("typing on the terminal: ") + strerror(errno);
      typed = true;
    }
  }
  // What the program wrote just before it ended may still be unread.
  for (pollfd fd = {master, POLLIN, 0}; master_open && poll(&fd, 1, 0) > 0;) {
    char chunk[65536];
    ssize_t n = read(master, chunk, sizeof chunk);
    if (n <= 0) break;
    run->out.append(chunk, (size_t)n);
  }
  close(master);
  if (!run->timed_out && WIFEXITED(wstatus)) run->status = WEXITSTATUS(wstatus);
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

program native_program() { return {{bin_dir() + "/vizuzariz"}, "\n", "\n", 10000, false}; }

// The first Wine run may have to make the prefix, which takes many seconds.
program wine_program() { return {wine_command(WIN64_PROGRAM), "\r\n", "\r", 120000, true}; }

// Empty when the Windows program can be run here; else why not.
std::string windows_missing() {
  std::string why = wine_missing();
  struct stat st;
  if (why.empty() && stat(WIN64_PROGRAM, &st) != 0)
    why = std::string(WIN64_PROGRAM) + " not found: build the win64 preset first";
  return why;
}

// Enter typed on a terminal only after all 600 lines have appeared.
void check_enter_after_all_output(const program &p) {
  terminal_run run;
  run_on_terminal(p.command, 600, p.enter, p.timeout_ms, &run);
  ASSERT_EQ(run.error, "");
  ASSERT_FALSE(run.timed_out) << "did not end within " << p.timeout_ms << " ms; "
                              << std::count(run.out.begin(), run.out.end(), '\n') << " lines appeared";
  EXPECT_EQ(run.status, 10) << "exit status is not the code of the Enter read";
  expect_whole_lines(p.on_wine ? screen_text(run.out) : run.out, "\n", true, "");
}

// Input already waiting ends the process while the second thread may be
// printing into the same buffer: the case that tears lines or writes them
// twice when the exit-time flush races that thread. Repeated to meet the race.
void check_waiting_character(const program &p, int runs) {
  const std::string inputs[] = {"q", "\n", ""};
  const int statuses[] = {'q', 10, 255};  // 255: the end-of-file value -1, as both show it
  for (int i = 0; i < runs && !testing::Test::HasFailure(); ++i) {
    program_options options;
    options.input = &inputs[i % 3];
    options.timeout_ms = p.timeout_ms;
    program_run run;
    std::string at = "run " + std::to_string(i) + ": ";
    ASSERT_TRUE(run_program(p.command, &options, &run)) << run.error;
    ASSERT_FALSE(run.timed_out) << at << "did not end within " << p.timeout_ms << " ms of its input";
    EXPECT_EQ(run.signal, 0) << at << "ended by signal " << run.signal;
    EXPECT_EQ(run.status, statuses[i % 3])
        << at << "exit status is not that of input \"" << inputs[i % 3] << "\"";
    expect_whole_lines(run.out, p.line_end, false, at);
  }
}

}  // namespace

TEST(vizuzariz, enter_after_all_output_shows_600_whole_lines_and_exits_10) {
  check_enter_after_all_output(native_program());
}

// Each run takes a few milliseconds; a thousand meet the race reliably.
TEST(vizuzariz, waiting_character_ends_the_process_with_its_code_and_whole_lines) {
  check_waiting_character(native_program(), 1000);
}

// A second thread that cannot start (here: its stack does not fit in memory)
// must not take the main thread down with it.
TEST(vizuzariz, thread_that_cannot_start_goes_unnoticed) {
  program p = native_program();
  p.command = {"/bin/sh", "-c", "ulimit -s 4000000000 && exec \"$0\"", p.command[0]};
  check_waiting_character(p, 1);
}

TEST(vizuzariz_wine, enter_after_all_output_shows_600_whole_lines_and_exits_10) {
  std::string why = windows_missing();
  if (!why.empty()) SKIP_OR_FAIL(why);
  check_enter_after_all_output(wine_program());
}

// Each start under Wine costs seconds: one run per kind of input.
TEST(vizuzariz_wine, waiting_character_ends_the_process_with_its_code_and_whole_lines) {
  std::string why = windows_missing();
  if (!why.empty()) SKIP_OR_FAIL(why);
  check_waiting_character(wine_program(), 3);
}
