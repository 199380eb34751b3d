// A block device, by its number: its node under /dev and its geometry, as
// sysfs gives them (/sys/dev/block/MAJOR:MINOR/), which needs no rights to
// the device, so that a user without them still sees it; without sysfs, the
// device itself is asked (the block ioctls of linux/fs.h). Linux only.
#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "hdd_posix.h"

static bool read_sysfs_number(const char *path, int64_t *value) {
  FILE *file = fopen(path, "re");
  if (file == nullptr) return false;
  long long number = 0;
  bool ok = fscanf(file, "%lld", &number) == 1;
  fclose(file);
  *value = number;
  return ok;
}

bool is_sysfs_block_device(uint64_t device) {
  char path[64];
  snprintf(path, sizeof path, "/sys/dev/block/%u:%u", major(device), minor(device));
  return access(path, F_OK) == 0;
}

// A partition's sysfs folder has no queue/ of its own; its disk's is one up.
bool sysfs_block_size(uint64_t device, uint32_t *block_size) {
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
static bool sysfs_device_bytes(uint64_t device, int64_t *bytes) {
  char path[96];
  int64_t sectors = 0;
  snprintf(path, sizeof path, "/sys/dev/block/%u:%u/size", major(device), minor(device));
  if (!read_sysfs_number(path, &sectors)) return false;
  *bytes = sectors * 512;
  return true;
}

int device_geometry(const char *node, uint64_t device, uint32_t *block_size, int64_t *bytes) {
  if (sysfs_block_size(device, block_size) && sysfs_device_bytes(device, bytes)) return 0;
  int fd = open(node, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return fail_hdd_on_node(node, errno);
  int sector = 0;
  uint64_t size = 0;
  int result = 0;
  if (ioctl(fd, BLKSSZGET, &sector) != 0 || ioctl(fd, BLKGETSIZE64, &size) != 0 || sector <= 0)
    result = fail_hdd_on_node(node, errno != 0 ? errno : ENOTBLK);
  close(fd);
  *block_size = (uint32_t)sector;
  *bytes = (int64_t)size;
  return result;
}

bool device_node(uint64_t device, char *node, size_t size, struct stat *st) {
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

void name_device(uint64_t device, char *name, size_t size) {
  struct stat st;
  if (!device_node(device, name, size, &st)) snprintf(name, size, "%u:%u", major(device), minor(device));
}
