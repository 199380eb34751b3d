// End-to-end tests of vizuzariz: the Linux build, and the Windows 64-bit
// build under Wine. Input is given either late, on a pseudo-terminal once all
// 600 lines have appeared, or early, through a pipe before the program
// reads, which ends the process while the second thread may still print.
#include <errno.h>
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

#include <gtest/gtest.h>

#include "run_program.h"

namespace {

constexpr int native_timeout_ms = 10000;
// The first Wine run may have to make the prefix, which takes many seconds.
constexpr int wine_timeout_ms = 120000;

struct printed {
  std::vector<int> first;              // values of the "Nit I" lines, in order
  std::vector<int> second;             // values of the "Nit II" lines, in order
  std::vector<std::string> bad_lines;  // lines of neither form, e.g. two threads' text mixed
  std::string unfinished;              // text after the last line end
};

struct terminal_run {
  std::string out;
  int status = -1;
  bool timed_out = false;
  std::string error;
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

bool parse_line(const std::string &line, const char *label, std::vector<int> *values) {
  int value = 0;
  std::string format = std::string(label) + " : i=%d";
  if (sscanf(line.c_str(), format.c_str(), &value) != 1) return false;
  // sscanf accepts more than the program prints: signs, leading zeros, other blanks.
  if (line != std::string(label) + " : i=" + std::to_string(value) + " ") return false;
  values->push_back(value);
  return true;
}

printed parse_output(const std::string &out, const std::string &line_end) {
  printed result;
  size_t start = 0;
  for (size_t end; (end = out.find(line_end, start)) != std::string::npos;
       start = end + line_end.size()) {
    std::string line = out.substr(start, end - start);
    if (!parse_line(line, "Nit I", &result.first) && !parse_line(line, "Nit II", &result.second))
      result.bad_lines.push_back(line);
  }
  result.unfinished = out.substr(start);
  return result;
}

std::string first_lines(const std::vector<std::string> &lines) {
  std::string text;
  for (size_t i = 0; i < lines.size() && i < 3; ++i) text += "\n  \"" + lines[i] + "\"";
  return text;
}

// Both threads printed all their lines, whole and each in its own order.
void expect_all_lines(const std::string &out, const std::string &line_end) {
  printed p = parse_output(out, line_end);
  EXPECT_TRUE(p.bad_lines.empty()) << p.bad_lines.size()
                                   << " lines are not whole lines of one thread:"
                                   << first_lines(p.bad_lines);
  EXPECT_EQ(p.unfinished, "") << "output ends in the middle of a line";
  EXPECT_EQ(p.first, all_values()) << "the main thread's 300 lines did not appear once each, in order";
  EXPECT_EQ(p.second, all_values()) << "the second thread's 300 lines did not appear once each, in order";
}

// The process was ended while the second thread may still have been printing:
// the main thread's lines all appear once, the second thread's are a prefix of
// its own, and no line is broken.
void expect_main_lines_and_whole_lines(const std::string &out, const std::string &line_end,
                                       int run) {
  printed p = parse_output(out, line_end);
  std::vector<int> values = all_values();
  EXPECT_TRUE(p.bad_lines.empty()) << "run " << run << ": " << p.bad_lines.size()
                                   << " lines are not whole lines of one thread:"
                                   << first_lines(p.bad_lines);
  EXPECT_EQ(p.unfinished, "") << "run " << run << ": output ends in the middle of a line";
  EXPECT_EQ(p.first, values) << "run " << run << ": the main thread's " << p.first.size()
                             << " lines are not its 300 lines once each, in order";
  EXPECT_TRUE(p.second.size() <= values.size() &&
              std::equal(p.second.begin(), p.second.end(), values.begin()))
      << "run " << run << ": the second thread's " << p.second.size()
      << " lines are not the start of its sequence";
}

// Runs argv on a new pseudo-terminal, as from a console, and types keys once
// `lines` line feeds have appeared. The terminal neither echoes nor turns line
// feeds into CR LF, so the output is what the program wrote.
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
      tcsetattr(0, TCSANOW, &mode);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  long long deadline = now_ms() + timeout_ms;
  bool typed = false, exited = false;
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
    // process still holds the terminal open.
    pollfd fd = {master, POLLIN, 0};
    int ready = poll(&fd, 1, (int)std::min(left, 100LL));
    if (ready > 0) {
      char chunk[65536];
      ssize_t n = read(master, chunk, sizeof chunk);
      if (n > 0) run->out.append(chunk, (size_t)n);
      // EIO: every slave end is closed.
      if (n <= 0 && errno != EINTR && errno != EAGAIN) exited = waitpid(pid, &wstatus, 0) == pid;
    } else if (waitpid(pid, &wstatus, WNOHANG) == pid) {
      exited = true;
    }
    if (!typed && (size_t)std::count(run->out.begin(), run->out.end(), '\n') >= lines) {
      if (write(master, keys.data(), keys.size()) != (ssize_t)keys.size())
        run->error = std::string("typing on the terminal: ") + strerror(errno);
      typed = true;
    }
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

std::string lines_seen(const std::string &out) {
  return std::to_string(std::count(out.begin(), out.end(), '\n')) + " lines appeared";
}

std::string native_program() { return bin_dir() + "/vizuzariz"; }

// Empty when the Windows program can be run here; else why not.
std::string windows_missing() {
  std::string why = wine_missing();
  struct stat st;
  if (why.empty() && stat(WIN64_PROGRAM, &st) != 0)
    why = std::string(WIN64_PROGRAM) + " not found: build the win64 preset first";
  return why;
}

}  // namespace

TEST(vizuzariz, enter_after_all_output_shows_600_whole_lines_and_exits_10) {
  terminal_run run;
  run_on_terminal({native_program()}, 600, "\r", native_timeout_ms, &run);
  ASSERT_EQ(run.error, "");
  ASSERT_FALSE(run.timed_out) << "did not end within " << native_timeout_ms << " ms; "
                              << lines_seen(run.out);
  EXPECT_EQ(run.status, 10) << "exit status is not the code of the Enter read";
  expect_all_lines(run.out, "\n");
}

// Early input ends the process while the second thread may be printing into
// the same buffer: the case that tears lines or writes them twice when the
// exit-time flush races that thread. Repeated to meet the race; each run
// takes a few milliseconds.
TEST(vizuzariz, waiting_character_ends_the_process_with_its_code_and_whole_lines) {
  constexpr int runs = 1000;
  const std::string inputs[] = {"q", "\n", ""};
  const int statuses[] = {'q', 10, 255};  // 255: end of input, as Linux shows -1
  for (int i = 0; i < runs && !testing::Test::HasFailure(); ++i) {
    program_options options;
    options.input = &inputs[i % 3];
    options.timeout_ms = native_timeout_ms;
    program_run run;
    ASSERT_TRUE(run_program({native_program()}, &options, &run)) << run.error;
    ASSERT_FALSE(run.timed_out) << "run " << i << ": did not end within " << native_timeout_ms
                                << " ms of its input";
    EXPECT_EQ(run.signal, 0) << "run " << i << ": ended by signal " << run.signal;
    EXPECT_EQ(run.status, statuses[i % 3])
        << "run " << i << ": exit status is not that of input \"" << inputs[i % 3] << "\"";
    expect_main_lines_and_whole_lines(run.out, "\n", i);
  }
}

// A second thread that cannot start (here: its stack does not fit in memory)
// must not take the main thread down with it.
TEST(vizuzariz, thread_that_cannot_start_goes_unnoticed) {
  std::string input = "q";
  program_options options;
  options.input = &input;
  options.timeout_ms = native_timeout_ms;
  program_run run;
  ASSERT_TRUE(run_program({"/bin/sh", "-c", "ulimit -s 4000000000 && exec \"$0\"", native_program()},
                          &options, &run))
      << run.error;
  ASSERT_FALSE(run.timed_out) << "did not end within " << native_timeout_ms << " ms";
  EXPECT_EQ(run.signal, 0) << "ended by signal " << run.signal << "; standard error: " << run.err;
  EXPECT_EQ(run.status, 'q') << "exit status is not the code of the character read";
  expect_main_lines_and_whole_lines(run.out, "\n", 0);
}

TEST(vizuzariz_wine, enter_after_all_output_shows_600_whole_lines_and_exits_10) {
  std::string why = windows_missing();
  if (!why.empty()) SKIP_OR_FAIL(why);
  terminal_run run;
  run_on_terminal(wine_command(WIN64_PROGRAM), 600, "\r", wine_timeout_ms, &run);
  ASSERT_EQ(run.error, "");
  ASSERT_FALSE(run.timed_out) << "did not end within " << wine_timeout_ms << " ms; "
                              << lines_seen(run.out);
  EXPECT_EQ(run.status, 10) << "exit status is not the code of the Enter read";
  expect_all_lines(screen_text(run.out), "\n");
}

// As natively, with fewer runs: each start under Wine costs seconds.
TEST(vizuzariz_wine, waiting_character_ends_the_process_with_its_code_and_whole_lines) {
  std::string why = windows_missing();
  if (!why.empty()) SKIP_OR_FAIL(why);
  const std::string inputs[] = {"q", "\r\n", ""};
  // Standard input is in text mode: CR LF reads as a line feed. Wine passes on
  // the end-of-file status -1 as 255.
  const int statuses[] = {'q', 10, 255};
  for (int i = 0; i < 3 && !testing::Test::HasFailure(); ++i) {
    program_options options;
    options.input = &inputs[i];
    options.timeout_ms = wine_timeout_ms;
    program_run run;
    ASSERT_TRUE(run_program(wine_command(WIN64_PROGRAM), &options, &run)) << run.error;
    ASSERT_FALSE(run.timed_out) << "run " << i << ": did not end within " << wine_timeout_ms
                                << " ms of its input";
    EXPECT_EQ(run.status, statuses[i])
        << "run " << i << ": exit status is not that of input \"" << inputs[i] << "\"";
    expect_main_lines_and_whole_lines(run.out, "\r\n", i);
  }
}
