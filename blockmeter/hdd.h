// Raw, unbuffered access to a drive's volume, counted in whole blocks.
//
// A root names the volume: on Windows a drive root such as "D:\"; on Linux a
// block device node, a directory (the device that holds its file system) or a
// regular file. No operation prints anything; failures show in the results,
// and hdd_last_error() keeps the system's error code of the latest one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct hdd_info {
  uint32_t block_size;  // bytes per block: the unit of every read
  int64_t n_blocks;     // blocks counted for the volume
};

// Why root cannot name a volume on this system, or null when it can; asked
// before anything else about root (Windows takes only drive roots: "D:" or
// "D:\").
const char *hdd_root_problem(const char *root);

// Fills *info with the geometry of the volume at root. Returns 0, or -1 when
// the system cannot tell it (the record is then left untouched).
int get_hdd_info(const char *root, hdd_info *info);

// Opens the volume at root for raw reading past the system's cache, never in a
// mode that can write. Returns the handle, or -1.
intptr_t open_hdd(const char *root);

// Writes into text, at most size bytes, how a message names the volume at
// root: "ROOT (device NODE)" when the latest get_hdd_info or open_hdd of root
// failed on a device node of another name, else root itself.
void name_hdd_volume(const char *root, char *text, size_t size);

// How much of a volume lies on its device.
struct hdd_backing {
  int64_t bytes;           // the volume's size; 0 for a device
  int64_t unbacked_bytes;  // of those, bytes whose reads never reach the device
                           // (a file's holes and unwritten extents)
  int64_t encoded_bytes;   // of those, bytes in compressed (encoded) extents,
                           // whose reads the file system serves through its cache
};

// Fills *backing for the volume open at handle, without reading it, and leaves
// its position at block 0. Returns 0, or -1 when the system cannot tell (the
// record is then left untouched).
int get_hdd_backing(intptr_t handle, hdd_backing *backing);

// What a storage engineer checks first about a device a volume is read from,
// as far as the system tells it without rights to the device: empty texts
// and zero numbers where it does not.
struct hdd_device {
  std::string node;              // its node (\\.\D: on Windows), or MAJOR:MINOR without one
  std::string disk;              // for a partition, its disk's node
  int64_t bytes = 0;             // its size
  uint32_t logical_sector = 0;   // bytes per logical sector
  uint32_t physical_sector = 0;  // bytes per physical sector
  int rotational = -1;           // 1 rotational, 0 not, -1 not known
  std::string model;             // the drive's model
  std::string transport;         // how it is attached: "nvme", "usb", "ata", "virtio"...
  std::string link;              // its link to the host, where the system tells it: "SATA 6.0 Gb/s",
                                 // "PCIe 8.0 GT/s x4" (rate per lane, lanes), "USB 480 Mb/s"
  int loop_direct_io = -1;       // a loop device (or a partition of one): 1 with direct
                                 // I/O, 0 without; -1 for any other device
  std::string loop_backing;      // a loop device's backing file
  std::string system_name;       // the system's own name of the device (Windows)
  std::string file_system;       // the volume's file system (Windows)
};

// Fills *devices with the devices that the reads of the volume open at
// handle (opened from root) reach: the device itself, or those under the
// file; several for a file system over several devices. Returns 0, or -1 when
// the system cannot tell (*devices is then empty).
int get_hdd_devices(const char *root, intptr_t handle, std::vector<hdd_device> *devices);

// Closes a handle from open_hdd. Returns nonzero on success, 0 on failure.
int close_hdd(intptr_t handle);

// Returns a page-aligned buffer of nblocks blocks, or null. The caller frees it
// with free_hdd_buffer and the same nblocks.
void *alloc_hdd_buffer(const hdd_info *info, int nblocks);

// Gives a buffer back to the system. Returns nonzero on success, 0 on failure.
int free_hdd_buffer(void *buf, const hdd_info *info, int nblocks);

// Sets the volume's position to the start of block. Returns 0, or -1 when the
// system refuses (hdd_last_error() says why).
int position_hdd(intptr_t handle, const hdd_info *info, int64_t block);

// The same positioning, for callers that do not look at its outcome (a failed
// one shows in the reads after it). Always returns 0.
int seek_hdd(intptr_t handle, const hdd_info *info, int64_t block);

// Positions at block and reads nblocks blocks there into buf, leaving the
// position just past what was read. Returns the whole blocks read (a partial
// one is not counted), or -1 when the positioning or the read failed.
int read_hdd(intptr_t handle, const hdd_info *info, int64_t block, int nblocks, void *buf);

// Reads nblocks blocks at the current position. Results as read_hdd.
int read_hdd_cur(intptr_t handle, const hdd_info *info, int nblocks, void *buf);

// The system's error code of the latest failed operation (errno on Linux,
// GetLastError() on Windows), or a code of the backend's own for a reason no
// system code states; 0 when none failed yet.
int hdd_last_error();

// Writes the text for an error code from hdd_last_error() into text, at most
// size bytes including the terminating null.
void describe_hdd_error(int code, char *text, size_t size);

// The root read when none is named: the system's own drive.
extern const char *const default_hdd_root;

// How roots are named on this system, and the rights reading one needs: a
// paragraph of the usage text.
extern const char *const hdd_root_usage;

// This system's own spelling of the help option besides --help and -h
// ("/?" on Windows), or null.
extern const char *const hdd_help_option;
