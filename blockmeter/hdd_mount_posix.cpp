// What the mount tables tell of a file's file system: its mount, with its
// type and source, from /proc/self/mountinfo; and, for btrfs, the devices it
// lies on, from its device list under /sys/fs/btrfs. Linux only.
#include <dirent.h>
#include <fcntl.h>
#include <linux/btrfs.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>

#include "hdd_posix.h"

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

bool find_mount(const struct statx *stx, mount_entry *entry) {
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

// The id of the btrfs file system that holds path, as its folder under
// /sys/fs/btrfs is named. Asking needs only an open of path for reading.
static bool find_btrfs_fsid(const char *path, char *fsid, size_t size) {
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return false;
  btrfs_ioctl_fs_info_args args = {};
  bool found = ioctl(fd, BTRFS_IOC_FS_INFO, &args) == 0;
  close(fd);
  const unsigned char *id = args.fsid;
  snprintf(fsid, size, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", id[0], id[1],
           id[2], id[3], id[4], id[5], id[6], id[7], id[8], id[9], id[10], id[11], id[12], id[13], id[14],
           id[15]);
  return found;
}

// The devices in a btrfs file system's list: each entry of its devices/
// folder holds its device's number in its dev file. Returns their count, in
// order of device number, as sysfs lists them in no set order.
static int list_btrfs_devices(const char *fsid, uint64_t *devices) {
  char path[hdd_path_size];
  snprintf(path, sizeof path, "/sys/fs/btrfs/%s/devices", fsid);
  DIR *list = opendir(path);
  if (list == nullptr) return 0;
  int count = 0;
  for (dirent *entry = readdir(list); entry != nullptr; entry = readdir(list)) {
    char dev_path[hdd_path_size + 300];
    snprintf(dev_path, sizeof dev_path, "%s/%s/dev", path, entry->d_name);
    unsigned dev_major = 0, dev_minor = 0;
    FILE *file = entry->d_name[0] == '.' ? nullptr : fopen(dev_path, "re");
    if (file == nullptr) continue;
    if (fscanf(file, "%u:%u", &dev_major, &dev_minor) == 2 && count < max_btrfs_devices)
      devices[count++] = makedev(dev_major, dev_minor);
    fclose(file);
  }
  closedir(list);
  std::sort(devices, devices + count);
  return count;
}

int btrfs_devices(const char *path, uint64_t member, uint64_t *devices) {
  char fsid[40];
  bool by_fsid = find_btrfs_fsid(path, fsid, sizeof fsid);
  DIR *file_systems = opendir("/sys/fs/btrfs");
  if (file_systems == nullptr) return -1;
  int count = 0;
  bool found = false;
  for (dirent *fs = readdir(file_systems); fs != nullptr && !found; fs = readdir(file_systems)) {
    if (fs->d_name[0] == '.' || (by_fsid && strcmp(fs->d_name, fsid) != 0)) continue;
    count = list_btrfs_devices(fs->d_name, devices);
    found = by_fsid || std::find(devices, devices + count, member) != devices + count;
  }
  closedir(file_systems);
  return found ? count : 0;
}
