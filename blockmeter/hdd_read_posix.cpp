// How a volume is read: opened read-only past the page cache (O_DIRECT) and
// checked to be what get_hdd_info found, positioned, read into page-aligned
// buffers (MAP_POPULATE) and closed; what of a file is not on its device
// (SEEK_DATA, FIEMAP). Linux only.
#include <errno.h>
#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>

#include "hdd.h"
#include "hdd_posix.h"

static bool is_resolved_volume(const hdd_root *resolved, const struct stat *st) {
  return (S_ISBLK(st->st_mode) || S_ISREG(st->st_mode)) && st->st_dev == resolved->dev &&
         st->st_ino == resolved->ino;
}

static int fail_changed(const struct stat *st) {
  if (!S_ISBLK(st->st_mode) && !S_ISREG(st->st_mode))
    return fail_hdd_because(
        "it changed after its geometry was read: it is now %s, not a block device or regular file",
        name_file_kind(st->st_mode));
  return fail_hdd_because("it was replaced by another %s after its geometry was read",
                          S_ISBLK(st->st_mode) ? "device" : "file");
}

intptr_t open_hdd(const char *root) {
  const hdd_root *resolved = find_hdd_root(root);
  if (resolved == nullptr) return -1;
  set_hdd_node_tried("");
  const char *path = resolved->path;
  if (path[0] == '\0')
    return fail_hdd_because("no node under /dev is its device %u:%u", major(resolved->device),
                            minor(resolved->device));
  if (strcmp(path, root) != 0) set_hdd_node_tried(path);
  // Without blocking, so that a root swapped for a FIFO since its geometry
  // was read cannot hold the open for good; what was opened is checked on the
  // descriptor before blocking mode is restored.
  int fd = open(path, O_RDONLY | O_DIRECT | O_CLOEXEC | O_NONBLOCK);
  struct stat st = {};
  if (fd < 0) {
    int code = errno;
    if (stat(path, &st) == 0 && !is_resolved_volume(resolved, &st)) return fail_changed(&st);
    return fail_hdd(code);
  }
  if (fstat(fd, &st) != 0) {
    int code = errno;
    close(fd);
    return fail_hdd(code);
  }
  if (!is_resolved_volume(resolved, &st)) {
    close(fd);
    return fail_changed(&st);
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    int code = errno;
    close(fd);
    return fail_hdd(code);
  }
  return fd;
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

// From the file's extent map: *unwritten, the bytes of data ranges that lie
// in unwritten extents (where SEEK_DATA already counts those extents as
// holes, none do, so nothing is counted twice), and *encoded, the bytes in
// encoded (compressed) extents, which the file system reads into its cache
// to decode, so that direct reads of them are served from there.
static void map_extents(int fd, off_t size, int64_t *unwritten, int64_t *encoded) {
  alignas(
      struct fiemap) static char buffer[sizeof(struct fiemap) + fiemap_batch * sizeof(struct fiemap_extent)];
  struct fiemap *map = reinterpret_cast<struct fiemap *>(buffer);
  *unwritten = *encoded = 0;
  for (uint64_t start = 0; start < (uint64_t)size;) {
    memset(buffer, 0, sizeof buffer);
    map->fm_start = start;
    map->fm_length = (uint64_t)size - start;
    map->fm_extent_count = fiemap_batch;
    // A file system without extent maps has nothing unwritten or encoded to show.
    if (ioctl(fd, FS_IOC_FIEMAP, map) != 0 || map->fm_mapped_extents == 0) break;
    const struct fiemap_extent *extents = map->fm_extents;
    for (uint32_t i = 0; i < map->fm_mapped_extents; ++i) {
      uint64_t end = std::min<uint64_t>(extents[i].fe_logical + extents[i].fe_length, (uint64_t)size);
      if ((extents[i].fe_flags & FIEMAP_EXTENT_ENCODED) != 0 && end > extents[i].fe_logical)
        *encoded += (int64_t)(end - extents[i].fe_logical);
      if ((extents[i].fe_flags & FIEMAP_EXTENT_UNWRITTEN) == 0) continue;
      int64_t data = data_bytes(fd, (off_t)extents[i].fe_logical, (off_t)end);
      if (data > 0) *unwritten += data;
    }
    const struct fiemap_extent *last = &extents[map->fm_mapped_extents - 1];
    if ((last->fe_flags & FIEMAP_EXTENT_LAST) != 0) break;
    start = last->fe_logical + last->fe_length;
  }
}

int get_hdd_backing(intptr_t handle, hdd_backing *backing) {
  int fd = (int)handle;
  struct stat st;
  if (fstat(fd, &st) != 0) return fail_hdd(errno);
  if (!S_ISREG(st.st_mode)) {
    *backing = {0, 0, 0};
    return 0;
  }
  // Data written over unwritten extents stays unwritten in the map until it
  // reaches the device, as a direct read of it makes it do first, and data
  // not yet written back is not yet compressed; flushed now, the map shows
  // what the reads will find.
  struct fiemap flush = {};
  flush.fm_length = FIEMAP_MAX_OFFSET;
  flush.fm_flags = FIEMAP_FLAG_SYNC;
  ioctl(fd, FS_IOC_FIEMAP, &flush);
  int64_t data = data_bytes(fd, 0, st.st_size);
  int code = errno;
  int64_t unwritten = 0, encoded = 0;
  if (data > 0) map_extents(fd, st.st_size, &unwritten, &encoded);
  lseek(fd, 0, SEEK_SET);
  if (data < 0) return fail_hdd(code);
  *backing = {(int64_t)st.st_size, (int64_t)st.st_size - data + unwritten, encoded};
  return 0;
}

int close_hdd(intptr_t handle) {
  if (close((int)handle) == 0) return 1;
  fail_hdd(errno);
  return 0;
}

void *alloc_hdd_buffer(const hdd_info *info, int nblocks) {
  if (nblocks <= 0) {
    fail_hdd(EINVAL);
    return nullptr;
  }
  // Fresh anonymous pages: page-aligned, as direct reads want their buffers,
  // and populated now, so that no page fault falls inside a timed read.
  size_t bytes = (size_t)nblocks * info->block_size;
  void *buf = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  if (buf != MAP_FAILED) return buf;
  fail_hdd(errno);
  return nullptr;
}

int free_hdd_buffer(void *buf, const hdd_info *info, int nblocks) {
  if (munmap(buf, (size_t)nblocks * info->block_size) == 0) return 1;
  fail_hdd(errno);
  return 0;
}

int position_hdd(intptr_t handle, const hdd_info *info, int64_t block) {
  if (lseek((int)handle, (off_t)(block * info->block_size), SEEK_SET) < 0) return fail_hdd(errno);
  return 0;
}

int read_hdd_cur(intptr_t handle, const hdd_info *info, int nblocks, void *buf) {
  ssize_t bytes = read((int)handle, buf, (size_t)(uint32_t)nblocks * info->block_size);
  if (bytes < 0) return fail_hdd(errno);
  return (int)((size_t)bytes / info->block_size);
}
