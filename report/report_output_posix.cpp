#include "report_output.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <string_view>

// The temporary the signal handler removes; set while one exists.
static std::string pending_temporary;
static const char *volatile pending_path = nullptr;

constexpr int ending_signals[] = {SIGINT, SIGTERM, SIGHUP};

static void remove_temporary_and_end(int signal_number) {
  const char *path = pending_path;
  if (path != nullptr) unlink(path);
  signal(signal_number, SIG_DFL);
  // Blocked until the handler returns, then it ends the program as it would have.
  raise(signal_number);
}

static void install_signal_handlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  struct sigaction action {};
  action.sa_handler = remove_temporary_and_end;
  sigemptyset(&action.sa_mask);
  for (int signal_number : ending_signals) sigaddset(&action.sa_mask, signal_number);
  for (int signal_number : ending_signals) {
    struct sigaction old;
    // An ignored signal (nohup) stays ignored, and a handler of someone else's stays theirs.
    if (sigaction(signal_number, nullptr, &old) == 0 && old.sa_handler == SIG_DFL)
      sigaction(signal_number, &action, nullptr);
  }
}

// The temporary is made, renamed and removed with these signals held back, so
// that the handler never sees a name half set, nor one already renamed.
static void hold_ending_signals(sigset_t *old) {
  sigset_t set;
  sigemptyset(&set);
  for (int signal_number : ending_signals) sigaddset(&set, signal_number);
  sigprocmask(SIG_BLOCK, &set, old);
}

static void release_ending_signals(const sigset_t *old) { sigprocmask(SIG_SETMASK, old, nullptr); }

static int fail(int code, std::string *why) {
  *why = strerror(code);
  return -1;
}

static int refuse(const char *what, report_output *out, std::string *why) {
  out->refused = true;
  *why = what;
  return -1;
}

// Makes the temporary beside out->target, with the mode (and, where allowed,
// the owner) of the file it replaces, or a new file's mode under the umask.
static int open_temporary(report_output *out, const struct stat *existing, std::string *why) {
  install_signal_handlers();
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  unsigned long long noise = (unsigned long long)now.tv_nsec * 2654435761u ^ (unsigned long long)getpid()
                                                                                 << 20;
  for (unsigned attempt = 0; attempt < temporary_attempts; ++attempt) {
    std::string name = temporary_name(out->target, "/", noise ^ attempt * 40503u);
    sigset_t old;
    hold_ending_signals(&old);
    int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
    int error = fd < 0 ? errno : 0;
    if (fd >= 0) {
      pending_path = nullptr;
      pending_temporary = name;
      pending_path = pending_temporary.c_str();
    }
    release_ending_signals(&old);
    if (error == EEXIST) continue;
    if (error != 0) return fail(error, why);
    out->temporary = name;
    // Not every user may give a file away; the mode is what must be kept.
    if (existing != nullptr && fchown(fd, existing->st_uid, existing->st_gid) != 0 && errno != EPERM)
      error = errno;
    if (error == 0 && existing != nullptr && fchmod(fd, existing->st_mode & 07777) != 0) error = errno;
    if (error == 0 && (out->file = fdopen(fd, "wb")) == nullptr) error = errno;
    if (error == 0) return 0;
    close(fd);
    abort_report_output(out);
    return fail(error, why);
  }
  return fail(EEXIST, why);
}

int open_report_target(const char *path, report_output *out, std::string *why) {
  struct stat target, input;
  if (stat(path, &target) != 0) return errno == ENOENT ? open_temporary(out, nullptr, why) : fail(errno, why);
  if (S_ISBLK(target.st_mode)) return refuse("a block device", out, why);
  if (S_ISCHR(target.st_mode) || S_ISFIFO(target.st_mode)) {
    int fd = open(path, O_WRONLY | O_NOCTTY | O_CLOEXEC);
    out->file = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (out->file != nullptr) return 0;
    int error = errno;
    if (fd >= 0) close(fd);
    return fail(error, why);
  }
  if (S_ISDIR(target.st_mode)) return fail(EISDIR, why);
  if (!S_ISREG(target.st_mode)) return fail(ENXIO, why);
  if (fstat(STDIN_FILENO, &input) == 0 && input.st_dev == target.st_dev && input.st_ino == target.st_ino)
    return refuse("standard input", out, why);
  // A file that may not be written is not replaced either, though its folder would allow it.
  if (faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) != 0) return fail(errno, why);
  // A symbolic link stays one: the file it names is replaced.
  char *resolved = realpath(path, nullptr);
  if (resolved == nullptr) return fail(errno, why);
  out->target = resolved;
  free(resolved);
  return open_temporary(out, &target, why);
}

// "N" in full, a descriptor number; -1 for anything else.
static int descriptor_number(std::string_view text) {
  int fd = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), fd);
  return error == std::errc() && end == text.data() + text.size() && !text.empty() && text[0] != '+' ? fd
                                                                                                     : -1;
}

// The descriptor a path names by its form alone, or -1.
static int descriptor_by_form(std::string path) {
  // Repeated slashes and "." components name the same file.
  std::string clean;
  for (size_t at = 0; at < path.size();) {
    size_t end = std::min(path.find('/', at), path.size());
    std::string_view part(path.data() + at, end - at);
    if (!part.empty() && part != ".") clean += "/" + std::string(part);
    at = end + 1;
  }
  if (clean == "/dev/stdin") return 0;
  if (clean == "/dev/stdout") return 1;
  if (clean == "/dev/stderr") return 2;
  std::string own = "/proc/" + std::to_string(getpid()) + "/fd/";
  for (std::string folder :
       {std::string("/dev/fd/"), std::string("/proc/self/fd/"), std::string("/proc/thread-self/fd/"), own})
    if (clean.starts_with(folder)) return descriptor_number(std::string_view(clean).substr(folder.size()));
  return -1;
}

int named_descriptor(const char *path) {
  if (path[0] == '\0') return -1;
  std::string at = path;
  // As many links as the kernel itself follows.
  for (int hop = 0; hop < 40; ++hop) {
    if (at[0] != '/') {
      char *cwd = getcwd(nullptr, 0);
      if (cwd == nullptr) return -1;
      at = std::string(cwd) + "/" + at;
      free(cwd);
    }
    int fd = descriptor_by_form(at);
    if (fd >= 0) return fd;
    char link[4096];
    ssize_t length = readlink(at.c_str(), link, sizeof link);
    if (length <= 0 || (size_t)length == sizeof link) return -1;
    std::string target(link, (size_t)length);
    at = target[0] == '/' ? target : at.substr(0, at.rfind('/') + 1) + target;
  }
  return -1;
}

int open_report_descriptor(int fd, report_output *out, std::string *why) {
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return fail(errno, why);
  if ((flags & O_ACCMODE) == O_RDONLY) return fail(EBADF, why);
  int copy = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  if (copy < 0) return fail(errno, why);
  out->file = fdopen(copy, "wb");
  if (out->file != nullptr) return 0;
  int error = errno;
  close(copy);
  return fail(error, why);
}

int sync_report_file(FILE *file, std::string *why) { return fsync(fileno(file)) == 0 ? 0 : fail(errno, why); }

int replace_report_target(report_output *out, std::string *why) {
  sigset_t old;
  hold_ending_signals(&old);
  int error = rename(out->temporary.c_str(), out->target.c_str()) == 0 ? 0 : errno;
  if (error == 0) {
    pending_path = nullptr;
    out->temporary.clear();
  }
  release_ending_signals(&old);
  return error == 0 ? 0 : fail(error, why);
}

void remove_report_temporary(report_output *out) {
  sigset_t old;
  hold_ending_signals(&old);
  unlink(out->temporary.c_str());
  pending_path = nullptr;
  release_ending_signals(&old);
  out->temporary.clear();
}
