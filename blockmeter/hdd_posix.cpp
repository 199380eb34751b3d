// Linux only (sysfs, /proc/self/mountinfo, statx, the block ioctls of
// linux/fs.h, FIEMAP, MAP_POPULATE). A root is a path. A block device node is
// read itself; a directory reads the block device that holds its file system;
// a regular file is read itself. Geometry comes from sysfs where it can, which
// needs no rights to the device, so that a user without them still sees it.
#include "hdd.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>

#include "system_error.h"

const char *const default_hdd_root = "/";

const char *const hdd_root_usage =
    "A root is a path: a block device node (/dev/sdb) reads that device; a\n"
    "directory (a mount point, or any directory) reads the block device that holds\n"
    "its file system (ext4, xfs, btrfs on one device, f2fs, vfat, exfat...; not\n"
    "tmpfs, overlay, proc, NFS, FUSE or ZFS, which have no block device of their\n"
    "own); a regular file reads that file, where its file system reads it\n"
    "directly. With no root, / is read.\n"
    "Reading a device needs the rights to open it (root, or its group, usually\n"
    "disk); the geometry is shown even without them.\n";

const char *const hdd_help_option = nullptr;

static int last_error = 0;

// Any path may name a volume; the geometry query says whether it does.
const char *hdd_root_problem(const char *) { return nullptr; }

// A failure that no errno describes keeps a text of its own, which
// describe_hdd_error gives for this code.
constexpr int own_reason_code = 1 << 30;
static char own_reason[1024];

// The device node that the latest failed call was on, when it is not the root.
static char tried_node[PATH_MAX];

// What the latest get_hdd_info resolved its root to: what open_hdd opens, and
// what that must still be when it is opened.
struct resolved_root {
  bool valid;
  char root[PATH_MAX];
  char path[PATH_MAX];  // the root, or its file system's device node; empty: no node found
  dev_t device;         // the device number the geometry came from, for messages
  dev_t dev;            // device and inode numbers of path
  ino_t ino;
};
static resolved_root resolved;

static int fail(int code) {
  last_error = code;
  return -1;
}

[[gnu::format(printf, 1, 2)]] static int fail_because(const char *format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(own_reason, sizeof own_reason, format, args);
  va_end(args);
  return fail(own_reason_code);
}

static int fail_on_node(const char *node, int code) {
  snprintf(tried_node, sizeof tried_node, "%s", node);
  return fail(code);
}

static bool read_sysfs_number(const char *path, int64_t *value) {
  FILE *file = fopen(path, "re");
  if (file == nullptr) return false;
  long long number = 0;
  bool ok = fscanf(file, "%lld", &number) == 1;
  fclose(file);
  *value = number;
  return ok;
}

static bool is_sysfs_block_device(dev_t device) {
  char path[64];
  snprintf(path, sizeof path, "/sys/dev/block/%u:%u", major(device), minor(device));
  return access(path, F_OK) == 0;
}

// A partition's sysfs folder has no queue/ of its own; its disk's is one up.
static bool sysfs_block_size(dev_t device, uint32_t *block_size) {
  const char *const queues[] = {"queue", "../queue"};
  for (const char *queue : queues) {
    char path[96];
    int64_t size = 0;
    snprintf(path, sizeof path, "/sys/dev/block/%u:%u/%s/logical_block_size", major(device), minor(device),
             queue);
    if (read_sysfs_number(path, &size) && size > 0) {
      *block_size = (uint32_t)size;
      return true;
    }
  }
  return false;
}

// sysfs counts a device's size in 512-byte units whatever its sector size.
static bool sysfs_device_bytes(dev_t device, int64_t *bytes) {
  char path[96];
  int64_t sectors = 0;
  snprintf(path, sizeof path, "/sys/dev/block/%u:%u/size", major(device), minor(device));
  if (!read_sysfs_number(path, &sectors)) return false;
  *bytes = sectors * 512;
  return true;
}

// Without sysfs, ask the device itself, which needs the rights to open it.
static int device_geometry(const char *node, dev_t device, uint32_t *block_size, int64_t *bytes) {
  if (sysfs_block_size(device, block_size) && sysfs_device_bytes(device, bytes)) return 0;
  int fd = open(node, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return fail_on_node(node, errno);
  int sector = 0;
  uint64_t size = 0;
  int result = 0;
  if (ioctl(fd, BLKSSZGET, &sector) != 0 || ioctl(fd, BLKGETSIZE64, &size) != 0 || sector <= 0)
    result = fail_on_node(node, errno != 0 ? errno : ENOTBLK);
  close(fd);
  *block_size = (uint32_t)sector;
  *bytes = (int64_t)size;
  return result;
}

// The device node of a block device number: the name the kernel gives it in
// sysfs, under /dev, when that node is indeed that device. Fills *st with the
// node's own status.
static bool device_node(dev_t device, char *node, size_t size, struct stat *st) {
  char path[96];
  snprintf(path, sizeof path, "/sys/dev/block/%u:%u/uevent", major(device), minor(device));
  FILE *file = fopen(path, "re");
  bool found = false;
  if (file != nullptr) {
    char line[256];
    while (!found && fgets(line, sizeof line, file) != nullptr) {
      if (strncmp(line, "DEVNAME=", 8) != 0) continue;
      line[strcspn(line, "\n")] = '\0';
      snprintf(node, size, "/dev/%s", line + 8);
      found = stat(node, st) == 0 && S_ISBLK(st->st_mode) && st->st_rdev == device;
    }
    fclose(file);
  }
  if (found) return true;
  snprintf(node, size, "/dev/block/%u:%u", major(device), minor(device));
  return stat(node, st) == 0 && S_ISBLK(st->st_mode) && st->st_rdev == device;
}

// The device node of a device number for a message; its numbers where it has none.
static void name_device(dev_t device, char *name, size_t size) {
  struct stat st;
  if (!device_node(device, name, size, &st)) snprintf(name, size, "%u:%u", major(device), minor(device));
}

// mountinfo writes a space, tab, newline or backslash within a field as a
// backslash and three octal digits.
static void unescape_mount_field(char *field) {
  char *out = field;
  for (const char *in = field; *in != '\0'; ++out) {
    if (in[0] == '\\' && in[1] >= '0' && in[1] <= '3' && in[2] >= '0' && in[2] <= '7' && in[3] >= '0' &&
        in[3] <= '7') {
      *out = (char)((in[1] - '0') * 64 + (in[2] - '0') * 8 + (in[3] - '0'));
      in += 4;
    } else {
      *out = *in++;
    }
  }
  *out = '\0';
}

struct mount_entry {
  char fs_type[64];
  char source[PATH_MAX];
};

// Finds the mount that a file is on: by mount id where the kernel gives it,
// since a btrfs file's or subvolume's device number is on no line of
// mountinfo; else by device number.
static bool find_mount(const struct statx *stx, mount_entry *entry) {
  FILE *file = fopen("/proc/self/mountinfo", "re");
  if (file == nullptr) return false;
  char *line = nullptr;
  size_t capacity = 0;
  bool found = false;
  while (!found && getline(&line, &capacity, file) > 0) {
    unsigned long long id = 0;
    unsigned dev_major = 0, dev_minor = 0;
    if (sscanf(line, "%llu %*u %u:%u", &id, &dev_major, &dev_minor) != 3) continue;
    bool match = (stx->stx_mask & STATX_MNT_ID) != 0
                     ? id == stx->stx_mnt_id
                     : dev_major == stx->stx_dev_major && dev_minor == stx->stx_dev_minor;
    // The optional fields end at a lone "-"; type and source follow it.
    const char *rest = match ? strstr(line, " - ") : nullptr;
    if (rest == nullptr) continue;
    char format[32];
    snprintf(format, sizeof format, "%%%zus %%%zus", sizeof entry->fs_type - 1, sizeof entry->source - 1);
    if (sscanf(rest + 3, format, entry->fs_type, entry->source) != 2) continue;
    unescape_mount_field(entry->fs_type);
    unescape_mount_field(entry->source);
    found = true;
  }
  free(line);
  fclose(file);
  return found;
}

constexpr int max_btrfs_devices = 64;

// A btrfs file system lists its devices in /sys/fs/btrfs/FSID/devices/, each
// entry holding the device's number in its dev file. Fills devices with those
// of the file system that has member; returns their count, 0 when no file
// system listed there has it.
static int btrfs_devices(dev_t member, dev_t *devices) {
  DIR *file_systems = opendir("/sys/fs/btrfs");
  if (file_systems == nullptr) return 0;
  int count = 0;
  bool has_member = false;
  for (dirent *fs = readdir(file_systems); fs != nullptr && !has_member; fs = readdir(file_systems)) {
    char path[PATH_MAX];
    snprintf(path, sizeof path, "/sys/fs/btrfs/%s/devices", fs->d_name);
    DIR *list = fs->d_name[0] == '.' ? nullptr : opendir(path);
    if (list == nullptr) continue;
    count = 0;
    for (dirent *entry = readdir(list); entry != nullptr; entry = readdir(list)) {
      char dev_path[PATH_MAX + 300];
      snprintf(dev_path, sizeof dev_path, "%s/%s/dev", path, entry->d_name);
      unsigned dev_major = 0, dev_minor = 0;
      FILE *file = entry->d_name[0] == '.' ? nullptr : fopen(dev_path, "re");
      if (file == nullptr) continue;
      if (fscanf(file, "%u:%u", &dev_major, &dev_minor) == 2 && count < max_btrfs_devices) {
        devices[count++] = makedev(dev_major, dev_minor);
        has_member = has_member || devices[count - 1] == member;
      }
      fclose(file);
    }
    closedir(list);
  }
  closedir(file_systems);
  return has_member ? count : 0;
}

static const char *article_for(const char *word) {
  bool vowel = word[0] != '\0' && strchr("aeiou", word[0]) != nullptr;
  return vowel || strncmp(word, "nfs", 3) == 0 ? "an" : "a";
}

// The block device under the file system of a file or directory: the one its
// device number names when that is a block device, else the one its mount
// names as its source. Returns 0 with *device set, or -1 with the reason.
static int find_holding_device(const struct statx *stx, dev_t *device) {
  dev_t own = makedev(stx->stx_dev_major, stx->stx_dev_minor);
  if (is_sysfs_block_device(own)) {
    *device = own;
    return 0;
  }
  mount_entry mount;
  if (!find_mount(stx, &mount))
    return fail_because(
        "no block device holds its file system: its device number %u:%u is not a block device, and its "
        "mount is not listed in /proc/self/mountinfo",
        major(own), minor(own));
  struct stat source;
  bool source_found = mount.source[0] == '/' && stat(mount.source, &source) == 0;
  bool on_device = source_found && S_ISBLK(source.st_mode);
  // A device mounted from outside this mount namespace, as in a container.
  if (!source_found && strncmp(mount.source, "/dev/", 5) == 0)
    return fail_because("its %s file system's device %s is not present here; name a device node instead",
                        mount.fs_type, mount.source);
  if (on_device && strcmp(mount.fs_type, "btrfs") == 0) {
    dev_t devices[max_btrfs_devices];
    int count = btrfs_devices(source.st_rdev, devices);
    if (count > 1) {
      // In order of device number, as sysfs lists them in no set order.
      std::sort(devices, devices + count);
      char names[512] = "";
      size_t used = 0;
      for (int i = 0; i < count && used < sizeof names; ++i) {
        char name[PATH_MAX];
        name_device(devices[i], name, sizeof name);
        int written = snprintf(names + used, sizeof names - used, "%s%s", i > 0 ? ", " : "", name);
        used += written > 0 ? (size_t)written : 0;
      }
      return fail_because("its btrfs file system spans %d devices (%s); name one of them instead", count,
                          names);
    }
  }
  if (!on_device)
    return fail_because(
        "it is on %s %s file system, which has no block device; name a device node, or a file on a disk "
        "file system",
        article_for(mount.fs_type), mount.fs_type);
  *device = source.st_rdev;
  return 0;
}

// Refuses a file that its file system does not read directly, naming the
// device to measure instead where it can be found.
static int refuse_buffered_file(const struct statx *stx) {
  mount_entry mount;
  char type[80] = "its file system";
  if (find_mount(stx, &mount)) snprintf(type, sizeof type, "its %s file system", mount.fs_type);
  dev_t device = 0;
  char name[PATH_MAX] = "";
  if (find_holding_device(stx, &device) == 0) name_device(device, name, sizeof name);
  return fail_because(
      "%s does not read this file directly (the kernel gives no alignment for direct reads of it), so the "
      "reads would come from the page cache; name its device instead%s%s",
      type, name[0] != '\0' ? ": " : "", name);
}

// Direct reads of a file must be aligned as its file system says. Older
// kernels do not say, and then the device's sector is the unit; but btrfs
// serves a direct read not aligned to its own sector, which is at least that
// of each of its devices, from the page cache, so there its sector is.
static int file_block_size(const char *path, const struct statx *stx, uint32_t *block_size) {
  if ((stx->stx_mask & STATX_DIOALIGN) != 0) {
    if (stx->stx_dio_offset_align == 0) return refuse_buffered_file(stx);
    *block_size = stx->stx_dio_offset_align;
    return 0;
  }
  mount_entry mount;
  struct statvfs vfs;
  if (find_mount(stx, &mount) && strcmp(mount.fs_type, "btrfs") == 0) {
    if (statvfs(path, &vfs) != 0) return fail(errno);
    *block_size = (uint32_t)vfs.f_bsize;
    return 0;
  }
  dev_t device = 0;
  if (find_holding_device(stx, &device) != 0) return -1;
  if (sysfs_block_size(device, block_size)) return 0;
  char name[PATH_MAX];
  name_device(device, name, sizeof name);
  return fail_because("the sector size of its device %s is not in /sys/dev/block", name);
}

static const char *file_kind(mode_t mode) {
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  return "of an unknown kind";
}

static void remember_root(const char *root, const char *path, dev_t device, dev_t dev, ino_t ino) {
  resolved.valid = true;
  snprintf(resolved.root, sizeof resolved.root, "%s", root);
  snprintf(resolved.path, sizeof resolved.path, "%s", path);
  resolved.device = device;
  resolved.dev = dev;
  resolved.ino = ino;
}

int get_hdd_info(const char *root, hdd_info *info) {
  resolved.valid = false;
  tried_node[0] = '\0';
  struct statx stx;
  if (statx(AT_FDCWD, root, 0, STATX_BASIC_STATS | STATX_MNT_ID | STATX_DIOALIGN, &stx) != 0)
    return fail(errno);
  dev_t dev = makedev(stx.stx_dev_major, stx.stx_dev_minor);
  uint32_t block_size = 0;
  int64_t n_blocks = 0;
  if (S_ISBLK(stx.stx_mode)) {
    dev_t device = makedev(stx.stx_rdev_major, stx.stx_rdev_minor);
    int64_t bytes = 0;
    if (device_geometry(root, device, &block_size, &bytes) != 0) return -1;
    n_blocks = bytes / block_size;
    remember_root(root, root, device, dev, stx.stx_ino);
  } else if (S_ISDIR(stx.stx_mode)) {
    dev_t device = 0;
    if (find_holding_device(&stx, &device) != 0) return -1;
    // Without a node the geometry may still come from sysfs; open_hdd then
    // says that there is nothing to open.
    char node[PATH_MAX];
    struct stat node_st = {};
    if (!device_node(device, node, sizeof node, &node_st)) node[0] = '\0';
    if (!sysfs_block_size(device, &block_size)) {
      if (node[0] == '\0')
        return fail_because("no node under /dev is its device %u:%u", major(device), minor(device));
      int64_t bytes = 0;
      if (device_geometry(node, device, &block_size, &bytes) != 0) return -1;
    }
    // The file system's own size, as the Windows build counts its clusters.
    struct statvfs vfs;
    if (statvfs(root, &vfs) != 0) return fail(errno);
    n_blocks = (int64_t)((uint64_t)vfs.f_blocks * vfs.f_frsize / block_size);
    remember_root(root, node, device, node_st.st_dev, node_st.st_ino);
  } else if (S_ISREG(stx.stx_mode)) {
    if (file_block_size(root, &stx, &block_size) != 0) return -1;
    n_blocks = (int64_t)(stx.stx_size / block_size);
    remember_root(root, root, dev, dev, stx.stx_ino);
  } else {
    return fail_because("it is %s, not a block device, directory or regular file", file_kind(stx.stx_mode));
  }
  info->block_size = block_size;
  info->n_blocks = n_blocks;
  return 0;
}

static bool is_resolved_volume(const struct stat *st) {
  return (S_ISBLK(st->st_mode) || S_ISREG(st->st_mode)) && st->st_dev == resolved.dev &&
         st->st_ino == resolved.ino;
}

static int fail_changed(const struct stat *st) {
  if (!S_ISBLK(st->st_mode) && !S_ISREG(st->st_mode))
    return fail_because(
        "it changed after its geometry was read: it is now %s, not a block device or regular file",
        file_kind(st->st_mode));
  return fail_because("it was replaced by another %s after its geometry was read",
                      S_ISBLK(st->st_mode) ? "device" : "file");
}

intptr_t open_hdd(const char *root) {
  hdd_info unused;
  if ((!resolved.valid || strcmp(resolved.root, root) != 0) && get_hdd_info(root, &unused) != 0) return -1;
  tried_node[0] = '\0';
  const char *path = resolved.path;
  if (path[0] == '\0')
    return fail_because("no node under /dev is its device %u:%u", major(resolved.device),
                        minor(resolved.device));
  if (strcmp(path, root) != 0) snprintf(tried_node, sizeof tried_node, "%s", path);
  // Without blocking, so that a root swapped for a FIFO since its geometry
  // was read cannot hold the open for good; what was opened is checked on the
  // descriptor before blocking mode is restored.
  int fd = open(path, O_RDONLY | O_DIRECT | O_CLOEXEC | O_NONBLOCK);
  struct stat st = {};
  if (fd < 0) {
    int code = errno;
    if (stat(path, &st) == 0 && !is_resolved_volume(&st)) return fail_changed(&st);
    return fail(code);
  }
  if (fstat(fd, &st) != 0) {
    int code = errno;
    close(fd);
    return fail(code);
  }
  if (!is_resolved_volume(&st)) {
    close(fd);
    return fail_changed(&st);
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    int code = errno;
    close(fd);
    return fail(code);
  }
  return fd;
}

void name_hdd_volume(const char *root, char *text, size_t size) {
  if (tried_node[0] != '\0' && strcmp(tried_node, root) != 0)
    snprintf(text, size, "%s (device %s)", root, tried_node);
  else
    snprintf(text, size, "%s", root);
}

// Bytes of [start, end) that hold data by the file system's account, or -1.
static int64_t data_bytes(int fd, off_t start, off_t end) {
  int64_t bytes = 0;
  for (off_t at = start; at < end;) {
    off_t data = lseek(fd, at, SEEK_DATA);
    if (data < 0 && errno == ENXIO) break;  // nothing but a hole from here
    if (data < 0) return -1;
    if (data >= end) break;
    off_t hole = lseek(fd, data, SEEK_HOLE);
    if (hole < 0) return -1;
    if (hole > end) hole = end;
    bytes += hole - data;
    at = hole;
  }
  return bytes;
}

constexpr uint32_t fiemap_batch = 64;

// Bytes of data ranges that lie in unwritten extents. Where SEEK_DATA already
// counts those extents as holes, none do, so nothing is counted twice.
static int64_t unwritten_data_bytes(int fd, off_t size) {
  alignas(
      struct fiemap) static char buffer[sizeof(struct fiemap) + fiemap_batch * sizeof(struct fiemap_extent)];
  struct fiemap *map = reinterpret_cast<struct fiemap *>(buffer);
  int64_t bytes = 0;
  for (uint64_t start = 0; start < (uint64_t)size;) {
    memset(buffer, 0, sizeof buffer);
    map->fm_start = start;
    map->fm_length = (uint64_t)size - start;
    map->fm_extent_count = fiemap_batch;
    // A file system without extent maps has nothing unwritten to show.
    if (ioctl(fd, FS_IOC_FIEMAP, map) != 0 || map->fm_mapped_extents == 0) break;
    const struct fiemap_extent *extents = map->fm_extents;
    for (uint32_t i = 0; i < map->fm_mapped_extents; ++i) {
      if ((extents[i].fe_flags & FIEMAP_EXTENT_UNWRITTEN) == 0) continue;
      uint64_t end = extents[i].fe_logical + extents[i].fe_length;
      int64_t data = data_bytes(fd, (off_t)extents[i].fe_logical, (off_t)(end < (uint64_t)size ? end : size));
      if (data > 0) bytes += data;
    }
    const struct fiemap_extent *last = &extents[map->fm_mapped_extents - 1];
    if ((last->fe_flags & FIEMAP_EXTENT_LAST) != 0) break;
    start = last->fe_logical + last->fe_length;
  }
  return bytes;
}

int get_hdd_backing(intptr_t handle, hdd_backing *backing) {
  int fd = (int)handle;
  struct stat st;
  if (fstat(fd, &st) != 0) return fail(errno);
  if (!S_ISREG(st.st_mode)) {
    *backing = {0, 0};
    return 0;
  }
  // Data written over unwritten extents stays unwritten in the map until it
  // reaches the device, as a direct read of it makes it do first; flushed
  // now, the map shows what the reads will find.
  struct fiemap flush = {};
  flush.fm_length = FIEMAP_MAX_OFFSET;
  flush.fm_flags = FIEMAP_FLAG_SYNC;
  ioctl(fd, FS_IOC_FIEMAP, &flush);
  int64_t data = data_bytes(fd, 0, st.st_size);
  int64_t unwritten = data > 0 ? unwritten_data_bytes(fd, st.st_size) : 0;
  int code = errno;
  lseek(fd, 0, SEEK_SET);
  if (data < 0) return fail(code);
  *backing = {(int64_t)st.st_size, (int64_t)st.st_size - data + unwritten};
  return 0;
}

int close_hdd(intptr_t handle) {
  if (close((int)handle) == 0) return 1;
  last_error = errno;
  return 0;
}

void *alloc_hdd_buffer(const hdd_info *info, int nblocks) {
  if (nblocks <= 0) {
    last_error = EINVAL;
    return nullptr;
  }
  // Fresh anonymous pages: page-aligned, as direct reads want their buffers,
  // and populated now, so that no page fault falls inside a timed read.
  size_t bytes = (size_t)nblocks * info->block_size;
  void *buf = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  if (buf != MAP_FAILED) return buf;
  last_error = errno;
  return nullptr;
}

int free_hdd_buffer(void *buf, const hdd_info *info, int nblocks) {
  if (munmap(buf, (size_t)nblocks * info->block_size) == 0) return 1;
  last_error = errno;
  return 0;
}

int position_hdd(intptr_t handle, const hdd_info *info, int64_t block) {
  if (lseek((int)handle, (off_t)(block * info->block_size), SEEK_SET) < 0) return fail(errno);
  return 0;
}

int read_hdd_cur(intptr_t handle, const hdd_info *info, int nblocks, void *buf) {
  ssize_t bytes = read((int)handle, buf, (size_t)(uint32_t)nblocks * info->block_size);
  if (bytes < 0) return fail(errno);
  return (int)((size_t)bytes / info->block_size);
}

int hdd_last_error() { return last_error; }

void describe_hdd_error(int code, char *text, size_t size) {
  if (code == own_reason_code)
    snprintf(text, size, "%s", own_reason);
  else
    describe_system_error(code, text, size);
}
