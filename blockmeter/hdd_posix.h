// What the files of the Linux drive backend share, and no other file uses:
// hdd_locate_posix.cpp finds what a root names, with what hdd_mount_posix.cpp
// tells of mounts and hdd_device_posix.cpp of a block device by its number;
// hdd_read_posix.cpp opens and reads the volume; hdd_error_posix.cpp keeps the
// record of the latest failure. Device and inode numbers are passed as 64-bit
// values, which dev_t and ino_t are on Linux.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "hdd.h"

struct stat;
struct statx;

// The record of the latest failure, for hdd_last_error() and
// describe_hdd_error(). Each of these returns -1.
// Records code, a system error code.
int fail_hdd(int code);
// Records a reason no system error code states.
[[gnu::format(printf, 1, 2)]] int fail_hdd_because(const char *format, ...);
// Records code, of a call on a device node that name_hdd_volume then names.
int fail_hdd_on_node(const char *node, int code);

// Sets the device node that name_hdd_volume names beside a root ("" for none).
void set_hdd_node_tried(const char *node);

constexpr size_t hdd_path_size = 4096;  // PATH_MAX

// What get_hdd_info found a root to be: what open_hdd opens, and what that
// must still be when it is opened.
struct hdd_root {
  char root[hdd_path_size];
  char path[hdd_path_size];  // the root, or its file system's device node; empty: no node found
  uint64_t device;           // the device number the geometry came from, for messages
  uint64_t dev, ino;         // device and inode numbers of path
};

// What the latest get_hdd_info found root to be, found again unless that call
// was on root. Returns null when it cannot be (the failure is recorded).
const hdd_root *find_hdd_root(const char *root);

// How a message names a file of a kind no root may be: "a FIFO", "a socket"...
const char *name_file_kind(uint32_t mode);

struct mount_entry {
  char fs_type[64];
  char source[hdd_path_size];
};

// Finds the mount that a file is on: by mount id where statx gave it, since
// a btrfs file's or subvolume's device number is on no line of mountinfo;
// else by device number. Returns false when mountinfo does not list it.
bool find_mount(const struct statx *stx, mount_entry *entry);

constexpr int max_btrfs_devices = 64;

// Fills devices with those of the btrfs file system that holds path, in order
// of device number: the one whose id path gives, or where it gives none (path
// cannot be opened), the one whose list has member. Returns their count, 0
// when no such file system is listed under /sys/fs/btrfs, -1 when sysfs lists
// no btrfs at all.
int btrfs_devices(const char *path, uint64_t member, uint64_t *devices);

// Whether sysfs knows device as a block device.
bool is_sysfs_block_device(uint64_t device);

// The logical block size of device from sysfs. Returns false when sysfs does
// not give it.
bool sysfs_block_size(uint64_t device, uint32_t *block_size);

// The logical block size and the size in bytes of device, whose node is node:
// from sysfs, else from the device itself, which needs the rights to open it.
// Returns 0, or -1 with the failure recorded on node.
int device_geometry(const char *node, uint64_t device, uint32_t *block_size, int64_t *bytes);

// The device node of a block device number: the name the kernel gives it in
// sysfs, under /dev, when that node is indeed that device, else
// /dev/block/MAJOR:MINOR when that is. Fills *st with the node's own status.
// Returns false when there is no such node.
bool device_node(uint64_t device, char *node, size_t size, struct stat *st);

// How a message names device: its node, or MAJOR:MINOR where it has none.
void name_device(uint64_t device, char *name, size_t size);

// Fills *description with what sysfs tells of device: its node, its disk for
// a partition, size, sector sizes, whether it rotates, its model, transport
// and link, and for a loop device (or a partition of one) its backing file
// and whether it reads that with direct I/O.
void describe_block_device(uint64_t device, hdd_device *description);

// The link of a disk or partition attached by transport ("ata", "nvme" or
// "usb"), whose folder, links resolved, lies in the sysfs tree at sysfs
// ("/sys"), as hdd_device::link names it: its ATA port's link, its NVMe
// controller's PCIe link, or the nearest USB device's speed above it. Empty
// for any other transport or folder, and where sysfs does not tell it.
std::string find_sysfs_link(const std::string &sysfs, const std::string &folder,
                            const std::string &transport);
