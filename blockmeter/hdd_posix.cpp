// Linux: a root is a path. A block device node is read itself; a directory
// reads the block device that holds its file system; a regular file is read
// itself. Geometry comes from sysfs where it can, which needs no rights to
// the device, so that a user without them still sees it.
#include "hdd.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/fs.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "system_error.h"

const char *const default_hdd_root = "/";

const char *const hdd_root_usage =
    "A root is a path: a block device node (/dev/sdb) reads that device; a\n"
    "directory (a mount point, or any directory) reads the block device that holds\n"
    "its file system; a regular file reads that file. With no root, / is read.\n"
    "Reading a device needs the rights to open it (root, or its group, usually\n"
    "disk); the geometry is shown even without them.\n";

const char *const hdd_help_option = nullptr;

static int last_error = 0;

// Any path may name a volume; the geometry query says whether it does.
const char *hdd_root_problem(const char *) { return nullptr; }

static int fail(int code) {
  last_error = code;
  return -1;
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
  int fd = open(node, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(errno);
  int sector = 0;
  uint64_t size = 0;
  int result = 0;
  if (ioctl(fd, BLKSSZGET, &sector) != 0 || ioctl(fd, BLKGETSIZE64, &size) != 0 || sector <= 0)
    result = fail(errno != 0 ? errno : ENOTBLK);
  close(fd);
  *block_size = (uint32_t)sector;
  *bytes = (int64_t)size;
  return result;
}

// The device node of a block device number: the name the kernel gives it in
// sysfs, under /dev, when that node is indeed that device.
static bool device_node(dev_t device, char *node, size_t size) {
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
      struct stat st;
      found = stat(node, &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == device;
    }
    fclose(file);
  }
  if (found) return true;
  snprintf(node, size, "/dev/block/%u:%u", major(device), minor(device));
  struct stat st;
  return stat(node, &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == device;
}

// Direct reads of a file must be aligned as its file system says; older
// kernels do not say, and then the device's sector is the unit.
static bool file_block_size(const char *path, dev_t device, uint32_t *block_size) {
#ifdef STATX_DIOALIGN
  struct statx stx;
  if (statx(AT_FDCWD, path, 0, STATX_DIOALIGN, &stx) == 0 && (stx.stx_mask & STATX_DIOALIGN) &&
      stx.stx_dio_offset_align > 0) {
    *block_size = stx.stx_dio_offset_align;
    return true;
  }
#else
  (void)path;
#endif
  return sysfs_block_size(device, block_size);
}

int get_hdd_info(const char *root, hdd_info *info) {
  struct stat st;
  if (stat(root, &st) != 0) return fail(errno);
  uint32_t block_size = 0;
  int64_t n_blocks = 0;
  if (S_ISBLK(st.st_mode)) {
    int64_t bytes = 0;
    if (device_geometry(root, st.st_rdev, &block_size, &bytes) != 0) return -1;
    n_blocks = bytes / block_size;
  } else if (S_ISDIR(st.st_mode)) {
    // The file system's own size, as the Windows build counts its clusters.
    struct statvfs vfs;
    if (!sysfs_block_size(st.st_dev, &block_size)) return fail(ENOTBLK);
    if (statvfs(root, &vfs) != 0) return fail(errno);
    n_blocks = (int64_t)((uint64_t)vfs.f_blocks * vfs.f_frsize / block_size);
  } else if (S_ISREG(st.st_mode)) {
    if (!file_block_size(root, st.st_dev, &block_size)) return fail(ENOTBLK);
    n_blocks = st.st_size / block_size;
  } else {
    return fail(ENOTBLK);
  }
  info->block_size = block_size;
  info->n_blocks = n_blocks;
  return 0;
}

intptr_t open_hdd(const char *root) {
  struct stat st;
  if (stat(root, &st) != 0) return fail(errno);
  char node[PATH_MAX];
  const char *path = root;
  if (S_ISDIR(st.st_mode)) {
    if (!device_node(st.st_dev, node, sizeof node)) return fail(ENODEV);
    path = node;
  }
  int fd = open(path, O_RDONLY | O_DIRECT | O_CLOEXEC);
  if (fd < 0) return fail(errno);
  return fd;
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

void describe_hdd_error(int code, char *text, size_t size) { describe_system_error(code, text, size); }
