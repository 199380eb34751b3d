// A block device, by its number: its node under /dev, its geometry and what
// else a storage engineer checks first, as sysfs gives them
// (/sys/dev/block/MAJOR:MINOR/), which needs no rights to the device, so that
// a user without them still sees it; without sysfs, the geometry is asked of
// the device itself (the block ioctls of linux/fs.h). Linux only.
#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <string>

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

static std::string sysfs_path(uint64_t device, const char *name) {
  char path[96];
  snprintf(path, sizeof path, "/sys/dev/block/%u:%u/", major(device), minor(device));
  return path + std::string(name);
}

// The first line of a sysfs file, without its line end and trailing spaces.
static bool read_sysfs_text(const std::string &path, std::string *text) {
  FILE *file = fopen(path.c_str(), "re");
  if (file == nullptr) return false;
  char line[hdd_path_size];
  bool ok = fgets(line, sizeof line, file) != nullptr;
  fclose(file);
  if (!ok) return false;
  *text = line;
  text->erase(text->find_last_not_of(" \n") + 1);
  return true;
}

// An attribute that a partition's disk holds for it: the queue, the drive and
// the loop device are the disk's, one folder up.
static bool read_disk_text(uint64_t device, const char *name, std::string *text) {
  return read_sysfs_text(sysfs_path(device, name), text) ||
         read_sysfs_text(sysfs_path(device, "../") + name, text);
}

static int64_t read_disk_number(uint64_t device, const char *name, int64_t otherwise) {
  std::string text;
  return read_disk_text(device, name, &text) && !text.empty() ? strtoll(text.c_str(), nullptr, 10)
                                                              : otherwise;
}

// How the device is attached, from the bus its sysfs folder (all links
// resolved) lies under.
static std::string find_transport(const std::string &folder) {
  static const struct {
    const char *folder, *name;
  } buses[] = {{"/nvme", "nvme"}, {"/usb", "usb"}, {"/ata", "ata"}, {"/virtio", "virtio"}, {"/mmc", "mmc"}};
  for (const auto &bus : buses)
    if (folder.find(bus.folder) != std::string::npos) return bus.name;
  return "";
}

// A rate as sysfs writes one: digits, with at most one decimal point between
// digits. Anything else ("<unknown>", "Unknown") is a link that is down or
// not told.
static bool is_rate(const std::string &text) {
  size_t whole = text.find_first_not_of("0123456789");
  if (text.empty() || whole == 0) return false;
  if (whole == std::string::npos) return true;
  return text[whole] == '.' && whole + 1 < text.size() &&
         text.find_first_not_of("0123456789", whole + 1) == std::string::npos;
}

// Text without its suffix, when it ends with that suffix.
static bool cut_suffix(std::string *text, const char *suffix) {
  size_t length = strlen(suffix);
  if (text->size() <= length || text->compare(text->size() - length, length, suffix) != 0) return false;
  text->resize(text->size() - length);
  return true;
}

// A SATA disk lies under its port's folder, ataN: the port's own link (where
// a port multiplier shares it, the one they all go through) is linkN.
static std::string find_sata_link(const std::string &sysfs, const std::string &folder) {
  for (size_t at = folder.find("/ata"); at != std::string::npos; at = folder.find("/ata", at + 1)) {
    size_t end = folder.find('/', at + 1);
    std::string port = folder.substr(at + 4, end == std::string::npos ? std::string::npos : end - at - 4);
    if (port.empty() || port.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string speed;
    if (!read_sysfs_text(sysfs + "/class/ata_link/link" + port + "/sata_spd", &speed) ||
        !cut_suffix(&speed, " Gbps") || !is_rate(speed))
      return "";
    return "SATA " + speed + " Gb/s";
  }
  return "";
}

// An NVMe controller is the nearest folder above its namespaces with a PCIe
// link; its bridges above it have links of their own, which are not the
// drive's. Older kernels write "8 GT/s", newer "8.0 GT/s PCIe"; a width of 0
// is a link that is down.
static std::string find_pcie_link(const std::string &sysfs, const std::string &folder) {
  for (std::string at = folder; at.size() > sysfs.size(); at.resize(at.rfind('/'))) {
    std::string speed, width;
    if (!read_sysfs_text(at + "/current_link_speed", &speed)) continue;
    cut_suffix(&speed, " PCIe");
    if (!cut_suffix(&speed, " GT/s") || !is_rate(speed) ||
        !read_sysfs_text(at + "/current_link_width", &width) ||
        width.find_first_not_of("0123456789") != std::string::npos || strtol(width.c_str(), nullptr, 10) <= 0)
      return "";
    return "PCIe " + speed + " GT/s x" + width;
  }
  return "";
}

// The nearest USB device above a disk is the bridge in its enclosure or
// stick, whose link to its hub or port is the one its data crosses. sysfs
// writes the speed in Mb/s: 1.5, 12, 480, 5000, 10000, 20000.
static std::string find_usb_link(const std::string &sysfs, const std::string &folder) {
  for (std::string at = folder; at.size() > sysfs.size(); at.resize(at.rfind('/'))) {
    std::string speed;
    if (!read_sysfs_text(at + "/speed", &speed)) continue;
    if (!is_rate(speed)) return "";
    if (speed.size() > 3 && speed.ends_with("000") && speed.find('.') == std::string::npos)
      return "USB " + speed.substr(0, speed.size() - 3) + " Gb/s";
    return "USB " + speed + " Mb/s";
  }
  return "";
}

std::string find_sysfs_link(const std::string &sysfs, const std::string &folder,
                            const std::string &transport) {
  if (folder.size() <= sysfs.size() || folder.compare(0, sysfs.size(), sysfs) != 0 ||
      folder[sysfs.size()] != '/')
    return "";
  if (transport == "ata") return find_sata_link(sysfs, folder);
  if (transport == "nvme") return find_pcie_link(sysfs, folder);
  if (transport == "usb") return find_usb_link(sysfs, folder);
  return "";
}

void describe_block_device(uint64_t device, hdd_device *description) {
  char name[hdd_path_size];
  name_device(device, name, sizeof name);
  description->node = name;
  std::string disk;
  if (access(sysfs_path(device, "partition").c_str(), F_OK) == 0 &&
      read_sysfs_text(sysfs_path(device, "../dev"), &disk)) {
    unsigned disk_major = 0, disk_minor = 0;
    if (sscanf(disk.c_str(), "%u:%u", &disk_major, &disk_minor) == 2) {
      name_device(makedev(disk_major, disk_minor), name, sizeof name);
      description->disk = name;
    }
  }
  int64_t sectors = 0;
  if (read_sysfs_number(sysfs_path(device, "size").c_str(), &sectors)) description->bytes = sectors * 512;
  description->logical_sector = (uint32_t)read_disk_number(device, "queue/logical_block_size", 0);
  description->physical_sector = (uint32_t)read_disk_number(device, "queue/physical_block_size", 0);
  description->rotational = (int)read_disk_number(device, "queue/rotational", -1);
  read_disk_text(device, "device/model", &description->model);
  char *real = realpath(sysfs_path(device, "").c_str(), nullptr);
  std::string folder = real != nullptr ? real : "";
  free(real);
  description->transport = find_transport(folder);
  description->link = find_sysfs_link("/sys", folder, description->transport);
  description->loop_direct_io = (int)read_disk_number(device, "loop/dio", -1);
  if (description->loop_direct_io >= 0)
    read_disk_text(device, "loop/backing_file", &description->loop_backing);
}
