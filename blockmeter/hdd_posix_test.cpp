// The Linux drive backend linked on its own: a root replaced between the
// reading of its geometry and its opening is refused with a reason, and the
// open never waits on what replaced it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "hdd.h"
#include "run_program.h"

namespace {

constexpr int open_timeout_ms = 10000;

void write_file(const std::string &path, size_t bytes) {
  FILE *file = fopen(path.c_str(), "we");
  ASSERT_NE(nullptr, file) << path;
  for (size_t i = 0; i < bytes; ++i) fputc((int)(i * 7 % 251), file);
  fclose(file);
}

// In a child, so that an open that blocks can be ended: reads the geometry of
// root, lets swap replace root, opens it and reports "handle message". Returns
// the report, or an empty string after killing a child that did not report
// within the time allowed.
std::string open_after_swap(const std::string &root, void (*swap)(const std::string &)) {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return "pipe failed";
  pid_t pid = fork();
  if (pid == 0) {
    hdd_info info;
    char report[1500] = "geometry failed";
    if (get_hdd_info(root.c_str(), &info) == 0) {
      swap(root);
      intptr_t handle = open_hdd(root.c_str());
      char reason[1024] = "";
      if (handle < 0) describe_hdd_error(hdd_last_error(), reason, sizeof reason);
      snprintf(report, sizeof report, "%s %s", handle < 0 ? "failed" : "opened", reason);
    }
    ssize_t written = write(pipe_fds[1], report, strlen(report));
    _exit(written > 0 ? 0 : 1);
  }
  close(pipe_fds[1]);
  pollfd ready = {pipe_fds[0], POLLIN, 0};
  std::string report;
  if (pid > 0 && poll(&ready, 1, open_timeout_ms) == 1) {
    char text[1500];
    ssize_t bytes = read(pipe_fds[0], text, sizeof text);
    if (bytes > 0) report.assign(text, (size_t)bytes);
  }
  close(pipe_fds[0]);
  if (pid > 0) {
    if (report.empty()) kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  return report;
}

void keep(const std::string &) {}

void swap_for_fifo(const std::string &root) {
  std::string fifo = root + ".fifo";
  if (mkfifo(fifo.c_str(), 0600) != 0 || rename(fifo.c_str(), root.c_str()) != 0) _exit(2);
}

void swap_for_other_file(const std::string &root) {
  std::string other = root + ".other";
  FILE *file = fopen(other.c_str(), "we");
  if (file == nullptr || fputs("other", file) < 0 || fclose(file) != 0 ||
      rename(other.c_str(), root.c_str()) != 0)
    _exit(2);
}

TEST(hdd_posix, opens_only_the_file_whose_geometry_was_read) {
  std::string dir = scratch_dir("hdd_posix");
  struct swap_case {
    const char *what;
    void (*swap)(const std::string &);
    std::string expected;
  } cases[] = {
      {"left alone", keep, "opened "},
      {"swapped for a FIFO", swap_for_fifo,
       "failed it changed after its geometry was read: it is now a FIFO, not a block device or regular file"},
      {"swapped for another file", swap_for_other_file,
       "failed it was replaced by another file after its geometry was read"},
  };
  for (const swap_case &c : cases) {
    std::string root = dir + "/volume.img";
    write_file(root, 64 * 1024);
    std::string report = open_after_swap(root, c.swap);
    EXPECT_FALSE(report.empty()) << c.what << ": open_hdd did not return within " << open_timeout_ms / 1000
                                 << " s";
    EXPECT_EQ(c.expected, report) << c.what;
    unlink(root.c_str());
  }
}

}  // namespace
