#include "run_program.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

static long long now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

static void close_fd(int *fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

// The ends a run reads from and writes to, and the child's ends.
struct run_fds {
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
  int status[2] = {-1, -1};  // the child's exec failure, if any, as an errno
};

static void close_all(run_fds *fds) {
  for (int *pair : {fds->in, fds->out, fds->err, fds->status}) close_fd(&pair[0]), close_fd(&pair[1]);
}

// In the child between fork and exec: only async-signal-safe calls. Every
// descriptor of ours above the standard three is closed by the exec, so none
// takes a place below the program's own descriptor limit.
[[noreturn]] static void exec_child(char *const argv[], const program_options *options, const run_fds *fds) {
  if (options->terminal) {
    termios mode;
    if (tcgetattr(0, &mode) == 0) {
      mode.c_lflag &= ~(tcflag_t)ECHO;
      mode.c_oflag &= ~(tcflag_t)ONLCR;
      // Wine's console reads the raw key and takes a line feed for Ctrl+J,
      // which ends no line; it may read before it puts the terminal in raw mode.
      mode.c_iflag &= ~(tcflag_t)ICRNL;
      tcsetattr(0, TCSANOW, &mode);
    }
  } else {
    if (options->new_session) setsid();
    if (dup2(fds->in[0], 0) < 0 || dup2(fds->out[1], 1) < 0 || dup2(fds->err[1], 2) < 0) goto fail;
  }
  if (options->cwd != nullptr && chdir(options->cwd) != 0) goto fail;
  close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
  execv(argv[0], argv);
fail:
  int code = errno;
  if (write(fds->status[1], &code, sizeof code) < 0) {
  }
  _exit(127);
}

// Starts the child; returns its pid, or -1 with run->error set.
static pid_t start_child(char *const argv[], const program_options *options, run_fds *fds, program_run *run) {
  bool failed = pipe2(fds->status, O_CLOEXEC) < 0;
  pid_t pid = -1;
  if (!failed && options->terminal) {
    winsize size = {25, 80, 0, 0};
    pid = forkpty(&fds->out[0], nullptr, nullptr, &size);
    failed = pid < 0;
  } else if (!failed) {
    bool piped_input = options->input != nullptr;
    failed = (piped_input ? pipe2(fds->in, O_CLOEXEC)
                          : (fds->in[0] = open("/dev/null", O_RDONLY | O_CLOEXEC))) < 0 ||
             pipe2(fds->out, O_CLOEXEC) < 0 || pipe2(fds->err, O_CLOEXEC) < 0;
    if (!failed) pid = fork();
    failed = failed || pid < 0;
  }
  if (failed) {
    run->error = std::string("starting ") + argv[0] + ": " + strerror(errno);
    return -1;
  }
  if (pid == 0) exec_child(argv, options, fds);
  close_fd(&fds->in[0]), close_fd(&fds->out[1]), close_fd(&fds->err[1]), close_fd(&fds->status[1]);
  int exec_errno = 0;
  if (read(fds->status[0], &exec_errno, sizeof exec_errno) == (ssize_t)sizeof exec_errno) {
    waitpid(pid, nullptr, 0);
    run->error = std::string(argv[0]) + ": " + strerror(exec_errno);
    return -1;
  }
  return pid;
}

// Takes what is there on *fd into text; closes *fd at its end (on a terminal,
// EIO: every slave end is closed).
static void take_output(int *fd, std::string *text) {
  char chunk[65536];
  ssize_t n = read(*fd, chunk, sizeof chunk);
  if (n > 0)
    text->append(chunk, (size_t)n);
  else if (n == 0 || (errno != EINTR && errno != EAGAIN))
    close_fd(fd);
}

bool run_program(const std::vector<std::string> &args, const program_options *options, program_run *run) {
  *run = program_run{};
  std::vector<char *> argv;
  for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
  argv.push_back(nullptr);
  run_fds fds;
  pid_t pid = start_child(argv.data(), options, &fds, run);
  if (pid < 0) {
    close_all(&fds);
    return false;
  }
  bool terminal = options->terminal;
  const std::string *input = terminal ? nullptr : options->input;
  size_t written = 0;
  if (input != nullptr) fcntl(fds.in[1], F_SETFL, O_NONBLOCK);
  if (input != nullptr && input->empty()) close_fd(&fds.in[1]);
  bool typed = !terminal || options->keys.empty();
  long long deadline = now_ms() + options->timeout_ms;
  int wstatus = 0;
  bool exited = false;
  // Through pipes, the run ends when the program has ended and every process
  // that holds its output (a child of its own) has let go of it; on a
  // terminal, when the program has ended. Wakes now and then to see which.
  while (!(exited && (terminal || (fds.out[0] < 0 && fds.err[0] < 0)))) {
    long long left = deadline - now_ms();
    if (left <= 0) {
      run->timed_out = true;
      kill(options->new_session || terminal ? -pid : pid, SIGKILL);
      if (!exited) waitpid(pid, &wstatus, 0);
      break;
    }
    pollfd polled[3] = {{fds.out[0], POLLIN, 0}, {fds.err[0], POLLIN, 0}, {fds.in[1], POLLOUT, 0}};
    if (poll(polled, 3, (int)std::min(left, 20LL)) > 0) {
      if (polled[0].revents != 0) take_output(&fds.out[0], &run->out);
      if (polled[1].revents != 0) take_output(&fds.err[0], &run->err);
      if (polled[2].revents != 0) {
        ssize_t n = write(fds.in[1], input->data() + written, input->size() - written);
        if (n > 0) written += (size_t)n;
        if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == input->size()) close_fd(&fds.in[1]);
      }
    }
    if (!typed && (size_t)std::count(run->out.begin(), run->out.end(), '\n') >= options->keys_after_lines) {
      if (write(fds.out[0], options->keys.data(), options->keys.size()) != (ssize_t)options->keys.size())
        run->error = std::string("typing on the terminal: ") + strerror(errno);
      typed = true;
    }
    if (!exited) exited = waitpid(pid, &wstatus, WNOHANG) == pid;
  }
  // What the program wrote just before it ended may still be unread.
  for (int *fd : {&fds.out[0], &fds.err[0]})
    for (pollfd polled = {*fd, POLLIN, 0}; *fd >= 0 && poll(&polled, 1, 0) > 0; polled.fd = *fd)
      take_output(fd, fd == &fds.out[0] ? &run->out : &run->err);
  close_all(&fds);
  if (WIFEXITED(wstatus)) run->status = WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) run->signal = WTERMSIG(wstatus);
  return true;
}

std::string shell(const std::string &command, bool *ok) {
  program_options options;
  options.timeout_ms = 60000;
  program_run run;
  *ok = run_program({"/bin/sh", "-c", command}, &options, &run) && run.status == 0;
  if (!*ok) fprintf(stderr, "`%s` failed: %s%s\n", command.c_str(), run.err.c_str(), run.error.c_str());
  return run.out;
}

std::string bin_dir() { return BIN_DIR; }

std::string scratch_dir(const std::string &suite) {
  std::string dir = bin_dir() + "/../scratch/" + suite;
  bool ok = false;
  shell("mkdir -p '" + dir + "'", &ok);
  return dir;
}
