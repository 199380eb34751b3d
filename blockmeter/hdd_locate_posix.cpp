// Where a root is, and why one is refused. A root is a path: a block device
// node is read itself; a directory reads the block device that holds its file
// system, found by its device number, else by its mount's source, which must
// still name that device; a regular file is read itself, in blocks of the
// alignment its file system asks of direct reads. Also which devices the
// reads of an open volume reach. Linux only (statx).
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <vector>

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

static const char *article_for(const char *word) {
  bool vowel = word[0] != '\0' && strchr("aeiou", word[0]) != nullptr;
  return vowel || strncmp(word, "nfs", 3) == 0 ? "an" : "a";
}

// How a message names what a path is now, when it is not a block device.
static const char *name_path_kind(mode_t mode) {
  if (S_ISREG(mode)) return "a regular file";
  if (S_ISDIR(mode)) return "a directory";
  return name_file_kind(mode);
}

// Writes "A, B, C" into names, from the nodes of devices.
static void name_devices(const uint64_t *devices, int count, char *names, size_t size) {
  size_t used = 0;
  names[0] = '\0';
  for (int i = 0; i < count && used < size; ++i) {
    char name[PATH_MAX];
    name_device(devices[i], name, sizeof name);
    int written = snprintf(names + used, size - used, "%s%s", i > 0 ? ", " : "", name);
    used += written > 0 ? (size_t)written : 0;
  }
}

// The devices of the btrfs at path, when its mount's source (null: gone)
// still names one of them: a node or link that named it at mount time may
// have been replaced or re-pointed since. Returns their count, or -1 with the
// reason.
static int find_btrfs_devices(const char *path, const mount_entry *mount, const struct stat *source,
                              uint64_t *devices) {
  bool on_device = source != nullptr && S_ISBLK(source->st_mode);
  int count = btrfs_devices(path, on_device ? source->st_rdev : 0, devices);
  if (count < 0) {
    // Without btrfs's lists in sysfs, the source is all there is to go by.
    devices[0] = on_device ? source->st_rdev : 0;
    count = on_device ? 1 : 0;
  }
  if (on_device && std::find(devices, devices + count, (uint64_t)source->st_rdev) != devices + count)
    return count;
  char names[512], instead[600] = "its device";
  name_devices(devices, count, names, sizeof names);
  if (count == 1) snprintf(instead, sizeof instead, "its device %s", names);
  if (count > 1) snprintf(instead, sizeof instead, "one of its devices (%s)", names);
  if (source == nullptr)
    return fail_hdd_because("its btrfs file system was mounted from %s, which is gone; name %s instead",
                            mount->source, instead);
  char now[PATH_MAX];
  if (on_device)
    name_device(source->st_rdev, now, sizeof now);
  else
    snprintf(now, sizeof now, "%s", name_path_kind(source->st_mode));
  return fail_hdd_because(
      "its btrfs file system was mounted from %s, which now names %s, not a device of it; name %s instead",
      mount->source, now, instead);
}

// The block devices under the file system of the file or directory at path:
// the one its device number names when that is a block device, else those
// its mount's source leads to. Returns their count (more than one only for a
// btrfs over several devices), or -1 with the reason.
static int find_holding_devices(const char *path, const struct statx *stx, uint64_t *devices) {
  dev_t own = makedev(stx->stx_dev_major, stx->stx_dev_minor);
  if (is_sysfs_block_device(own)) {
    devices[0] = own;
    return 1;
  }
  mount_entry mount;
  if (!find_mount(stx, &mount))
    return fail_hdd_because(
        "no block device holds its file system: its device number %u:%u is not a block device, and its "
        "mount is not listed in /proc/self/mountinfo",
        major(own), minor(own));
  struct stat source;
  bool source_found = mount.source[0] == '/' && stat(mount.source, &source) == 0;
  // A device mounted from outside this mount namespace, as in a container.
  if (!source_found && strncmp(mount.source, "/dev/", 5) == 0)
    return fail_hdd_because("its %s file system's device %s is not present here; name a device node instead",
                            mount.fs_type, mount.source);
  if (strcmp(mount.fs_type, "btrfs") == 0)
    return find_btrfs_devices(path, &mount, source_found ? &source : nullptr, devices);
  if (mount.source[0] == '/' && !source_found)
    return fail_hdd_because("its %s file system was mounted from %s, which is gone; name its device instead",
                            mount.fs_type, mount.source);
  if (!source_found || !S_ISBLK(source.st_mode))
    return fail_hdd_because(
        "it is on %s %s file system, which has no block device; name a device node, or a file on a disk "
        "file system",
        article_for(mount.fs_type), mount.fs_type);
  devices[0] = source.st_rdev;
  return 1;
}

// The one block device under the file system of the file or directory at
// path. Returns 0 with *device set, or -1 with the reason.
static int find_holding_device(const char *path, const struct statx *stx, dev_t *device) {
  uint64_t devices[max_btrfs_devices];
  int count = find_holding_devices(path, stx, devices);
  if (count > 1) {
    char names[512];
    name_devices(devices, count, names, sizeof names);
    return fail_hdd_because("its btrfs file system spans %d devices (%s); name one of them instead", count,
                            names);
  }
  if (count == 1) *device = devices[0];
  return count == 1 ? 0 : -1;
}

// Refuses a file that its file system does not read directly, naming the
// device to measure instead where it can be found.
static int refuse_buffered_file(const char *path, const struct statx *stx) {
  mount_entry mount;
  char type[80] = "its file system";
  if (find_mount(stx, &mount)) snprintf(type, sizeof type, "its %s file system", mount.fs_type);
  dev_t device = 0;
  char name[PATH_MAX] = "";
  if (find_holding_device(path, stx, &device) == 0) name_device(device, name, sizeof name);
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
    if (stx->stx_dio_offset_align == 0) return refuse_buffered_file(path, stx);
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
  if (find_holding_device(path, stx, &device) != 0) return -1;
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
    if (find_holding_device(root, &stx, &device) != 0) return -1;
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

int get_hdd_devices(const char *, intptr_t handle, std::vector<hdd_device> *devices) {
  devices->clear();
  int fd = (int)handle;
  struct statx stx;
  if (statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_MNT_ID, &stx) != 0) return fail_hdd(errno);
  uint64_t found[max_btrfs_devices];
  int count = 1;
  if (S_ISBLK(stx.stx_mode)) {
    found[0] = makedev(stx.stx_rdev_major, stx.stx_rdev_minor);
  } else {
    // A path of the open file itself, which btrfs asks to be opened again.
    char path[64];
    snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    // A btrfs's own list names its devices even where its mount's source no
    // longer does, which matters only to a device that is opened itself.
    mount_entry mount;
    bool btrfs = find_mount(&stx, &mount) && strcmp(mount.fs_type, "btrfs") == 0;
    count = btrfs ? btrfs_devices(path, 0, found) : 0;
    if (count <= 0) count = find_holding_devices(path, &stx, found);
    if (count < 0) return -1;
  }
  devices->resize((size_t)count);
  for (int i = 0; i < count; ++i) describe_block_device(found[i], &(*devices)[(size_t)i]);
  return 0;
}
