#include "run_program.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static long long now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

static void close_pair(int fds[2]) {
  for (int i = 0; i < 2; ++i)
    if (fds[i] >= 0) close(fds[i]);
}

// In the child between fork and exec: only async-signal-safe calls.
[[noreturn]] static void exec_child(char *const argv[], const program_options *options, int in, int out,
                                    int err, int status_pipe) {
  if (options->new_session) setsid();
  if (options->cwd != nullptr && chdir(options->cwd) != 0) goto fail;
  if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) goto fail;
  execv(argv[0], argv);
fail:
  int code = errno;
  if (write(status_pipe, &code, sizeof code) < 0) {
  }
  _exit(127);
}

bool run_program(const std::vector<std::string> &args, const program_options *options, program_run *run) {
  *run = program_run{};
  std::vector<char *> argv;
  for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
  argv.push_back(nullptr);

  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1}, status[2] = {-1, -1};
  bool piped_input = options->input != nullptr;
  if ((piped_input ? pipe2(in, O_CLOEXEC) : (in[0] = open("/dev/null", O_RDONLY | O_CLOEXEC))) < 0 ||
      pipe2(out, O_CLOEXEC) < 0 || pipe2(err, O_CLOEXEC) < 0 || pipe2(status, O_CLOEXEC) < 0) {
    run->error = std::string("pipe: ") + strerror(errno);
    close_pair(in), close_pair(out), close_pair(err), close_pair(status);
    return false;
  }
  pid_t pid = fork();
  if (pid == 0) exec_child(argv.data(), options, in[0], out[1], err[1], status[1]);
  close(in[0]), close(out[1]), close(err[1]), close(status[1]);
  in[0] = out[1] = err[1] = status[1] = -1;
  if (pid < 0) {
    run->error = std::string("fork: ") + strerror(errno);
    close_pair(in), close_pair(out), close_pair(err), close_pair(status);
    return false;
  }
  int exec_errno = 0;
  if (read(status[0], &exec_errno, sizeof exec_errno) == (ssize_t)sizeof exec_errno) {
    waitpid(pid, nullptr, 0);
    run->error = args[0] + ": " + strerror(exec_errno);
    close_pair(in), close_pair(out), close_pair(err), close_pair(status);
    return false;
  }
  close(status[0]);

  if (piped_input) fcntl(in[1], F_SETFL, O_NONBLOCK);
  size_t written = 0;
  if (piped_input && options->input->empty()) close(in[1]), in[1] = -1;
  long long deadline = now_ms() + options->timeout_ms;
  while (out[0] >= 0 || err[0] >= 0) {
    pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {in[1], POLLOUT, 0}};
    long long left = deadline - now_ms();
    if (left <= 0) {
      run->timed_out = true;
      break;
    }
    if (poll(fds, 3, (int)left) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      int *fd = i == 0 ? &out[0] : &err[0];
      if (*fd < 0 || fds[i].revents == 0) continue;
      char chunk[65536];
      ssize_t n = read(*fd, chunk, sizeof chunk);
      if (n > 0)
        (i == 0 ? run->out : run->err).append(chunk, (size_t)n);
      else if (n == 0 || errno != EINTR)
        close(*fd), *fd = -1;
    }
    if (in[1] >= 0 && fds[2].revents != 0) {
      ssize_t n = write(in[1], options->input->data() + written, options->input->size() - written);
      if (n > 0) written += (size_t)n;
      if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == options->input->size())
        close(in[1]), in[1] = -1;
    }
  }
  if (run->timed_out) kill(options->new_session ? -pid : pid, SIGKILL);
  int wstatus = 0;
  // The output is closed, but the program itself may still be running when a
  // child of its own holds the pipes no longer.
  for (;;) {
    pid_t done = waitpid(pid, &wstatus, WNOHANG);
    if (done == pid) break;
    if (now_ms() > deadline && !run->timed_out) {
      run->timed_out = true;
      kill(options->new_session ? -pid : pid, SIGKILL);
    }
    usleep(2000);
  }
  close_pair(in), close_pair(out), close_pair(err);
  if (WIFEXITED(wstatus)) run->status = WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) run->signal = WTERMSIG(wstatus);
  return true;
}

std::string bin_dir() { return BIN_DIR; }

std::string wine_missing() {
  std::string dir = WIN64_BIN_DIR;
  struct stat st;
  if (dir.empty()) return "this build runs no Windows programs (WIN64_BIN_DIR is empty)";
  if (access("/usr/lib/wine/wine64", X_OK) != 0)
    return "/usr/lib/wine/wine64 not found (Debian package: wine64)";
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return dir + " not found: build the win64 preset first";
  return "";
}

std::vector<std::string> wine_command(const std::string &program) {
  return {"/bin/sh", WINE_RUN, WINE_PREFIX, program};
}

std::string win64_bin_dir() { return WIN64_BIN_DIR; }

std::string wine_prefix() { return WINE_PREFIX; }
