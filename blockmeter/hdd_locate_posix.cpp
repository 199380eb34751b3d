// Where a root is, and why one is refused. A root is a path: a block device
// node is read itself; a directory reads the block device that holds its file
// system, found by its device number or by its mount's source (statx,
// /proc/self/mountinfo, btrfs's device lists under /sys/fs/btrfs); a regular
// file is read itself, in blocks of the alignment its file system asks of
// direct reads. Linux only.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

#include <algorithm>

#include "hdd.h"
#include "hdd_posix.h"

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

// Any path may name a volume; the geometry query says whether it does.
const char *hdd_root_problem(const char *) { return nullptr; }

// What the latest get_hdd_info found its root to be, while valid.
static bool resolved_valid = false;
static hdd_root resolved;

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
    return fail_hdd_because(
        "no block device holds its file system: its device number %u:%u is not a block device, and its "
        "mount is not listed in /proc/self/mountinfo",
        major(own), minor(own));
  struct stat source;
  bool source_found = mount.source[0] == '/' && stat(mount.source, &source) == 0;
  bool on_device = source_found && S_ISBLK(source.st_mode);
  // A device mounted from outside this mount namespace, as in a container.
  if (!source_found && strncmp(mount.source, "/dev/", 5) == 0)
    return fail_hdd_because("its %s file system's device %s is not present here; name a device node instead",
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
      return fail_hdd_because("its btrfs file system spans %d devices (%s); name one of them instead", count,
                              names);
    }
  }
  if (!on_device)
    return fail_hdd_because(
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
  return fail_hdd_because(
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
    if (statvfs(path, &vfs) != 0) return fail_hdd(errno);
    *block_size = (uint32_t)vfs.f_bsize;
    return 0;
  }
  dev_t device = 0;
  if (find_holding_device(stx, &device) != 0) return -1;
  if (sysfs_block_size(device, block_size)) return 0;
  char name[PATH_MAX];
  name_device(device, name, sizeof name);
  return fail_hdd_because("the sector size of its device %s is not in /sys/dev/block", name);
}

const char *name_file_kind(uint32_t mode) {
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  return "of an unknown kind";
}

static void remember_root(const char *root, const char *path, dev_t device, dev_t dev, ino_t ino) {
  resolved_valid = true;
  snprintf(resolved.root, sizeof resolved.root, "%s", root);
  snprintf(resolved.path, sizeof resolved.path, "%s", path);
  resolved.device = device;
  resolved.dev = dev;
  resolved.ino = ino;
}

int get_hdd_info(const char *root, hdd_info *info) {
  resolved_valid = false;
  set_hdd_node_tried("");
  struct statx stx;
  if (statx(AT_FDCWD, root, 0, STATX_BASIC_STATS | STATX_MNT_ID | STATX_DIOALIGN, &stx) != 0)
    return fail_hdd(errno);
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
        return fail_hdd_because("no node under /dev is its device %u:%u", major(device), minor(device));
      int64_t bytes = 0;
      if (device_geometry(node, device, &block_size, &bytes) != 0) return -1;
    }
    // The file system's own size, as the Windows build counts its clusters.
    struct statvfs vfs;
    if (statvfs(root, &vfs) != 0) return fail_hdd(errno);
    n_blocks = (int64_t)((uint64_t)vfs.f_blocks * vfs.f_frsize / block_size);
    remember_root(root, node, device, node_st.st_dev, node_st.st_ino);
  } else if (S_ISREG(stx.stx_mode)) {
    if (file_block_size(root, &stx, &block_size) != 0) return -1;
    n_blocks = (int64_t)(stx.stx_size / block_size);
    remember_root(root, root, dev, dev, stx.stx_ino);
  } else {
    return fail_hdd_because("it is %s, not a block device, directory or regular file",
                            name_file_kind(stx.stx_mode));
  }
  info->block_size = block_size;
  info->n_blocks = n_blocks;
  return 0;
}

const hdd_root *find_hdd_root(const char *root) {
  hdd_info unused;
  if ((!resolved_valid || strcmp(resolved.root, root) != 0) && get_hdd_info(root, &unused) != 0)
    return nullptr;
  return &resolved;
}
