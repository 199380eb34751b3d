// disk-emulator: a FUSE file system of one read-only file, disk.img, whose
// reads take the time the drive of disk_model.h takes. Linux and libfuse 3:
// the low-level API, served by one thread, so that reads are taken one at a
// time in the order they come.
#define FUSE_USE_VERSION 34

#include <errno.h>
#include <fcntl.h>
#include <fuse_lowlevel.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "disk_image.h"
#include "disk_model.h"
#include "emulator_options.h"
#include "loop_device.h"
#include "terminal_text.h"

constexpr int exit_failed = 1;
constexpr int exit_usage = 2;
constexpr int exit_refused = 3;

constexpr fuse_ino_t image_ino = 2;
constexpr char image_name[] = "disk.img";
constexpr double attr_timeout_s = 3600;

// What the file system's callbacks share, on the serving thread alone.
struct served_disk {
  disk_model model;
  disk_state state;
  int log_fd = -1;
  std::vector<char> buffer;
};

// A message on standard error, its outside text (paths, values) made safe for
// a terminal.
static void say(const std::string &message) {
  fprintf(stderr, "disk-emulator: %s\n", terminal_text(message).c_str());
}

static int64_t now_ns() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

static void sleep_until(int64_t ns) {
  timespec ts = {(time_t)(ns / 1000000000), (long)(ns % 1000000000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
}

static void fill_attributes(const served_disk *disk, fuse_ino_t ino, struct stat *st) {
  *st = {};
  st->st_ino = ino;
  if (ino == FUSE_ROOT_ID) {
    st->st_mode = S_IFDIR | 0555;
    st->st_nlink = 2;
  } else {
    st->st_mode = S_IFREG | 0444;
    st->st_nlink = 1;
    st->st_size = disk->model.size_bytes;
    st->st_blocks = disk->model.size_bytes / 512;
    st->st_blksize = 512;
  }
}

static served_disk *disk_of(fuse_req_t req) { return (served_disk *)fuse_req_userdata(req); }

static void init_disk(void *, fuse_conn_info *conn) {
  // Each read a request of its own, in order: the kernel may otherwise split
  // a direct read into requests sent at once.
  conn->want &= ~(unsigned)FUSE_CAP_ASYNC_DIO;
}

static void look_up(fuse_req_t req, fuse_ino_t parent, const char *name) {
  if (parent != FUSE_ROOT_ID || strcmp(name, image_name) != 0) {
    fuse_reply_err(req, ENOENT);
    return;
  }
  fuse_entry_param entry = {};
  entry.ino = image_ino;
  entry.attr_timeout = attr_timeout_s;
  entry.entry_timeout = attr_timeout_s;
  fill_attributes(disk_of(req), image_ino, &entry.attr);
  fuse_reply_entry(req, &entry);
}

static void get_attributes(fuse_req_t req, fuse_ino_t ino, fuse_file_info *) {
  if (ino != FUSE_ROOT_ID && ino != image_ino) {
    fuse_reply_err(req, ENOENT);
    return;
  }
  struct stat st;
  fill_attributes(disk_of(req), ino, &st);
  fuse_reply_attr(req, &st, attr_timeout_s);
}

static void open_image(fuse_req_t req, fuse_ino_t ino, fuse_file_info *fi) {
  if (ino != image_ino) {
    fuse_reply_err(req, ino == FUSE_ROOT_ID ? EISDIR : ENOENT);
  } else if ((fi->flags & O_ACCMODE) != O_RDONLY) {
    fuse_reply_err(req, EROFS);
  } else {
    // No page cache: every read comes here with its own offset and size.
    fi->direct_io = 1;
    fi->keep_cache = 0;
    fuse_reply_open(req, fi);
  }
}

static void read_image(fuse_req_t req, fuse_ino_t, size_t size, off_t offset, fuse_file_info *) {
  served_disk *disk = disk_of(req);
  int64_t arrived = now_ns();
  int64_t bytes =
      offset >= disk->model.size_bytes ? 0 : std::min((int64_t)size, disk->model.size_bytes - offset);
  if (bytes <= 0) {
    fuse_reply_buf(req, nullptr, 0);
    return;
  }
  int64_t done = model_read(&disk->model, &disk->state, arrived, offset, bytes);
  if (disk->log_fd >= 0)
    dprintf(disk->log_fd, "%lld %lld %lld %lld\n", (long long)offset, (long long)bytes, (long long)arrived,
            (long long)done);
  if (disk->buffer.size() < (size_t)bytes) disk->buffer.resize((size_t)bytes);
  fill_image(offset, disk->buffer.data(), (size_t)bytes);
  sleep_until(done);
  fuse_reply_buf(req, disk->buffer.data(), (size_t)bytes);
}

static void read_folder(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info *) {
  if (ino != FUSE_ROOT_ID) {
    fuse_reply_err(req, ENOTDIR);
    return;
  }
  served_disk *disk = disk_of(req);
  const char *names[] = {".", "..", image_name};
  const fuse_ino_t inos[] = {FUSE_ROOT_ID, FUSE_ROOT_ID, image_ino};
  std::vector<char> entries(size);
  size_t used = 0;
  for (off_t i = offset; i < 3; ++i) {
    struct stat st;
    fill_attributes(disk, inos[i], &st);
    size_t need = fuse_add_direntry(req, entries.data() + used, size - used, names[i], &st, i + 1);
    if (need > size - used) break;
    used += need;
  }
  fuse_reply_buf(req, entries.data(), used);
}

// The loop device is attached from a thread of its own, since attaching opens
// the image, which only the serving thread can answer.
struct loop_attachment {
  std::string image;
  pthread_t server;
  int fd = -1;
  std::atomic<int> status{0};
};

static void *attach_image(void *arg) {
  loop_attachment *loop = (loop_attachment *)arg;
  std::string node, why;
  bool refused = false;
  if (attach_loop(loop->image, &node, &loop->fd, &refused, &why) == 0) {
    printf("%s\n", node.c_str());
    fflush(stdout);
  } else {
    say(why);
    loop->status = refused ? exit_refused : exit_failed;
    pthread_kill(loop->server, SIGTERM);
  }
  return nullptr;
}

// Serves the disk at the mount point until a signal or an unmount ends it;
// with a loop device when asked. Returns the exit status.
static int serve_disk(const emulator_options *options, served_disk *disk) {
  std::vector<const char *> argv = {"disk-emulator", "-o", "ro,fsname=disk-emulator,subtype=disk-emulator"};
  fuse_args args = FUSE_ARGS_INIT((int)argv.size(), (char **)argv.data());
  fuse_lowlevel_ops ops = {};
  ops.init = init_disk;
  ops.lookup = look_up;
  ops.getattr = get_attributes;
  ops.open = open_image;
  ops.read = read_image;
  ops.readdir = read_folder;
  fuse_session *session = fuse_session_new(&args, &ops, sizeof ops, disk);
  // What the session parsed it keeps; the arguments libfuse copied are ours.
  fuse_opt_free_args(&args);
  if (session == nullptr) {
    say("cannot start a FUSE session");
    return exit_failed;
  }
  if (fuse_session_mount(session, options->mount_point.c_str()) != 0) {
    say("cannot mount a FUSE file system at " + options->mount_point);
    fuse_session_destroy(session);
    return exit_refused;
  }
  fuse_set_signal_handlers(session);
  loop_attachment loop;
  loop.image = options->mount_point + "/" + image_name;
  loop.server = pthread_self();
  // The signals that end the serving are taken by this thread alone, and
  // wait once it has ended: the tear-down below always runs to its end.
  sigset_t ending;
  sigemptyset(&ending);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&ending, signal);
  pthread_sigmask(SIG_BLOCK, &ending, nullptr);
  pthread_t attacher;
  bool attaching = options->attach_loop && pthread_create(&attacher, nullptr, attach_image, &loop) == 0;
  pthread_sigmask(SIG_UNBLOCK, &ending, nullptr);
  if (options->attach_loop && !attaching) {
    say("cannot start a thread to attach the loop device");
    loop.status = exit_failed;
  }
  int served = loop.status == 0 ? fuse_session_loop(session) : 0;
  pthread_sigmask(SIG_BLOCK, &ending, nullptr);
  fuse_remove_signal_handlers(session);
  fuse_session_unmount(session);
  // Ends the connection, and so an open of the image still waiting for it.
  fuse_session_destroy(session);
  if (attaching) pthread_join(attacher, nullptr);
  // Last, so that the loop device cannot wait on the serving thread; the
  // kernel detaches it once no one else holds it open.
  if (loop.fd >= 0) close(loop.fd);
  if (loop.status != 0) return loop.status;
  return served < 0 ? exit_failed : 0;
}

int main(int argc, char **argv) {
  emulator_options options;
  std::string why;
  if (parse_emulator_options(argc, argv, &options, &why) != 0) {
    say(why);
    fputs("(disk-emulator --help lists the options)\n", stderr);
    return exit_usage;
  }
  if (options.help || options.print_model) {
    fputs(options.help ? emulator_usage : describe_model(&options.model).c_str(), stdout);
    return fflush(stdout) == 0 ? 0 : exit_failed;
  }
  struct stat folder;
  int unusable = stat(options.mount_point.c_str(), &folder) != 0 ? errno
                 : S_ISDIR(folder.st_mode)                       ? 0
                                                                 : ENOTDIR;
  if (unusable != 0) {
    say("cannot mount at " + options.mount_point + ": " + strerror(unusable));
    return exit_usage;
  }
  // Ends with the process that started it, so that a test or script killed
  // in any way leaves no mount or loop device behind.
  pid_t parent = getppid();
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) return 0;
  // Wakes on time when other work keeps the processors busy.
  prctl(PR_SET_TIMERSLACK, 1UL);
  setpriority(PRIO_PROCESS, 0, -20);

  served_disk disk;
  disk.model = options.model;
  start_disk(now_ns(), &disk.state);
  if (!options.log_path.empty()) {
    disk.log_fd = open(options.log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (disk.log_fd < 0) {
      say("cannot open --log " + options.log_path + ": " + strerror(errno));
      return exit_failed;
    }
  }
  int status = serve_disk(&options, &disk);
  if (disk.log_fd >= 0) close(disk.log_fd);
  return status;
}
