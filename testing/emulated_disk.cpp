#include "emulated_disk.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/close_range.h>
#include <linux/loop.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "emulator_options.h"

constexpr int start_timeout_ms = 10000;
constexpr int end_timeout_ms = 10000;
constexpr int detach_timeout_ms = 5000;
constexpr int exit_refused = 3;  // disk-emulator's status when the system refuses

static long long now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

static void pause_ms(int ms) {
  timespec ts = {0, ms * 1000000L};
  nanosleep(&ts, nullptr);
}

static std::string read_text(const std::string &path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Starts the emulator with its standard output into a pipe, whose read end it
// returns in *out, and its standard error into a file; returns its pid, or -1.
static pid_t start_emulator(const std::vector<std::string> &args, const std::string &err_path, int *out) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return -1;
  int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
  int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  std::vector<char *> argv;
  for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = null >= 0 && err >= 0 ? fork() : -1;
  if (pid == 0) {
    if (dup2(null, 0) >= 0 && dup2(ends[1], 1) >= 0 && dup2(err, 2) >= 0) {
      close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
      execv(argv[0], argv.data());
    }
    _exit(127);
  }
  close(ends[1]);
  if (null >= 0) close(null);
  if (err >= 0) close(err);
  if (pid < 0) {
    close(ends[0]);
    return -1;
  }
  *out = ends[0];
  return pid;
}

// The first line the emulator prints (its loop device), within the time
// allowed; empty when it ended or said nothing in time.
static std::string read_node(int out) {
  std::string text;
  long long deadline = now_ms() + start_timeout_ms;
  while (text.find('\n') == std::string::npos) {
    long long left = deadline - now_ms();
    pollfd polled = {out, POLLIN, 0};
    if (left <= 0 || poll(&polled, 1, (int)left) <= 0) return "";
    char chunk[256];
    ssize_t n = read(out, chunk, sizeof chunk);
    if (n <= 0) return "";
    text.append(chunk, (size_t)n);
  }
  return text.substr(0, text.find('\n'));
}

static std::string emulator_path() { return bin_dir() + "/disk-emulator"; }

// Why this system cannot give a test an emulated disk, or an empty string.
static std::string find_refusal() {
  if (geteuid() != 0) return "an emulated disk needs root (a FUSE mount and a loop device)";
  if (access(emulator_path().c_str(), X_OK) != 0)
    return emulator_path() +
           " is not built here: libfuse 3 was not found when the build was configured (Debian packages: "
           "libfuse3-dev, pkg-config)";
  if (access("/dev/fuse", R_OK | W_OK) != 0)
    return std::string("no FUSE here: /dev/fuse: ") + strerror(errno);
  return "";
}

int start_emulated_disk(const disk_model *model, emulated_disk *disk, std::string *why) {
  *disk = emulated_disk{};
  std::string refusal = find_refusal();
  if (!refusal.empty()) {
    disk->refused = true;
    *why = refusal;
    return -1;
  }
  const char *tmp = getenv("TMPDIR");
  std::string folder = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/emulated-disk.XXXXXX";
  if (mkdtemp(folder.data()) == nullptr) {
    *why = "cannot make a folder " + folder + ": " + strerror(errno);
    return -1;
  }
  disk->folder = folder;
  disk->image = folder + "/mnt/disk.img";
  disk->log = folder + "/reads.log";
  std::vector<std::string> args = {emulator_path(), "--loop", "--log", disk->log};
  for (const std::string &option : format_model_options(model)) args.push_back(option);
  args.push_back(folder + "/mnt");
  int out = -1;
  std::string ignored;
  if (mkdir((folder + "/mnt").c_str(), 0755) != 0 ||
      (disk->pid = start_emulator(args, folder + "/emulator.err", &out)) < 0) {
    *why = "cannot start " + emulator_path() + " in " + folder + ": " + strerror(errno);
    stop_emulated_disk(disk, &ignored);
    return -1;
  }
  std::string node = read_node(out);
  close(out);
  struct stat device, image;
  if (node.starts_with("/dev/loop") && stat(node.c_str(), &device) == 0 && S_ISBLK(device.st_mode) &&
      stat(disk->image.c_str(), &image) == 0) {
    disk->node = node;
    disk->image_device = image.st_dev;
    return 0;
  }
  // Having closed its output, an emulator that ended is about to be reaped.
  int status = 0;
  bool ended = false;
  for (long long deadline = now_ms() + 1000; !ended && now_ms() < deadline; pause_ms(5))
    ended = waitpid(disk->pid, &status, WNOHANG) == disk->pid;
  if (ended) disk->pid = -1;
  std::string err = read_text(folder + "/emulator.err");
  *why = ended ? "disk-emulator ended without a loop device: " + err
               : "disk-emulator named no loop device within " + std::to_string(start_timeout_ms / 1000) +
                     " s (it printed \"" + node + "\"): " + err;
  stop_emulated_disk(disk, &ignored);
  disk->refused = ended && WIFEXITED(status) && WEXITSTATUS(status) == exit_refused;
  return -1;
}

// The image's path may be gone with its mount; its device number tells.
bool is_emulated_disk_attached(const emulated_disk *disk) {
  int fd = open(disk->node.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  loop_info64 info = {};
  bool attached = ioctl(fd, LOOP_GET_STATUS64, &info) == 0 && info.lo_device == disk->image_device;
  close(fd);
  return attached;
}

int stop_emulated_disk(emulated_disk *disk, std::string *why) {
  if (disk->folder.empty()) return 0;
  std::string problems;
  if (disk->pid > 0) {
    kill(disk->pid, SIGTERM);
    long long deadline = now_ms() + end_timeout_ms;
    while (waitpid(disk->pid, nullptr, WNOHANG) == 0) {
      if (now_ms() > deadline) {
        problems += "disk-emulator did not end within " + std::to_string(end_timeout_ms / 1000) +
                    " s of SIGTERM, and was killed; ";
        kill(disk->pid, SIGKILL);
        waitpid(disk->pid, nullptr, 0);
        break;
      }
      pause_ms(5);
    }
    disk->pid = -1;
  }
  // Left mounted only by an emulator that was killed.
  std::string mount_point = disk->folder + "/mnt";
  umount2(mount_point.c_str(), MNT_DETACH);
  if (!disk->node.empty()) {
    long long deadline = now_ms() + detach_timeout_ms;
    while (is_emulated_disk_attached(disk) && now_ms() < deadline) pause_ms(5);
    if (is_emulated_disk_attached(disk)) {
      // Detached by the kernel once its last holder lets go.
      int fd = open(disk->node.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd >= 0) ioctl(fd, LOOP_CLR_FD), close(fd);
      problems += disk->node + " was still attached " + std::to_string(detach_timeout_ms / 1000) +
                  " s after the emulator ended; something held it open; ";
    }
  }
  for (const char *name : {"/reads.log", "/emulator.err"}) unlink((disk->folder + name).c_str());
  if (rmdir(mount_point.c_str()) != 0 && errno != ENOENT)
    problems += "cannot remove " + mount_point + ": " + strerror(errno) + "; ";
  if (rmdir(disk->folder.c_str()) != 0)
    problems += "cannot remove " + disk->folder + ": " + strerror(errno) + "; ";
  *disk = emulated_disk{};
  if (problems.empty()) return 0;
  *why = problems.substr(0, problems.size() - 2);
  return -1;
}
