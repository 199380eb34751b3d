#include "hdd.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>

#include "fakes.h"
#include "random_block.h"

fake_hdd_state fake_hdd;

const char *const default_hdd_root = "SYSTEM";
const char *const hdd_root_usage = "A root is a fake drive.\n";
const char *const hdd_help_option = "/?";

constexpr int handle_base = 100;
constexpr size_t page_size = 4096;

static int last_error = 0;
static std::map<const void *, size_t> buffers;
static std::map<int, int64_t> positions;  // open handle -> byte position

const char *hdd_root_problem(const char *root) {
  return fake_hdd.bad_root == root ? "not a fake root" : nullptr;
}

void reset_fakes() {
  fake_hdd = fake_hdd_state{};
  fake_clock_ms = 0;
  fake_clock_ns = 0;
  tick_script.clear();
  fake_terminal_columns = 0;
  priority_raises = 0;
  last_error = 0;
  for (auto &[buf, bytes] : buffers) operator delete(const_cast<void *>(buf), std::align_val_t(page_size));
  buffers.clear();
  positions.clear();
  reset_random();
}

static fake_drive *find_drive(const char *root) {
  for (fake_drive &drive : fake_hdd.drives)
    if (drive.root == root) return &drive;
  return nullptr;
}

static fake_drive *drive_of(intptr_t handle) {
  size_t index = (size_t)(handle - handle_base);
  if (positions.count((int)handle) == 0 || index >= fake_hdd.drives.size()) return nullptr;
  return &fake_hdd.drives[index];
}

static void misuse(const std::string &what) { fake_hdd.misuse.push_back(what); }

// Logs "EVENT ROOT" and returns root's drive, or null, with the fake's error
// code, when there is none or its knob fails the call.
static fake_drive *drive_for(const char *event, const char *root, bool fake_drive::*fails) {
  fake_hdd.events.push_back(std::string(event) + " " + root);
  fake_drive *drive = find_drive(root);
  if (drive != nullptr && !(drive->*fails)) return drive;
  last_error = fake_hdd.error_code;
  return nullptr;
}

int get_hdd_info(const char *root, hdd_info *info) {
  fake_drive *drive = drive_for("info", root, &fake_drive::geometry_fails);
  if (drive == nullptr) return -1;
  info->block_size = drive->block_size;
  info->n_blocks = drive->n_blocks;
  return 0;
}

intptr_t open_hdd(const char *root) {
  fake_drive *drive = drive_for("open", root, &fake_drive::open_fails);
  if (drive == nullptr) return -1;
  int handle = handle_base + (int)(drive - fake_hdd.drives.data());
  if (positions.count(handle) != 0) misuse("opened twice: " + drive->root);
  positions[handle] = 0;
  return handle;
}

void name_hdd_volume(const char *root, char *text, size_t size) { snprintf(text, size, "%s", root); }

int get_hdd_backing(intptr_t handle, hdd_backing *backing) {
  fake_drive *drive = drive_of(handle);
  if (drive == nullptr) {
    misuse("backing asked of a handle not open");
    return -1;
  }
  *backing = {drive->n_blocks * drive->block_size, 0, drive->encoded_bytes};
  return 0;
}

int get_hdd_devices(const char *root, intptr_t handle, std::vector<hdd_device> *devices) {
  fake_drive *drive = drive_of(handle);
  if (drive == nullptr || drive->root != root) {
    misuse("devices asked of a handle not open on the root");
    return -1;
  }
  *devices = drive->devices;
  if (devices->empty()) devices->resize(1);
  if (drive->devices.empty()) devices->front().node = drive->root;
  return 0;
}

int close_hdd(intptr_t handle) {
  fake_drive *drive = drive_of(handle);
  if (drive == nullptr) {
    misuse("close of a handle not open");
    return 0;
  }
  fake_hdd.events.push_back("close " + drive->root);
  positions.erase((int)handle);
  return 1;
}

void *alloc_hdd_buffer(const hdd_info *info, int nblocks) {
  if (++fake_hdd.allocs == fake_hdd.fail_alloc_at || nblocks <= 0) {
    last_error = fake_hdd.error_code;
    return nullptr;
  }
  size_t bytes = (size_t)nblocks * info->block_size;
  void *buf = operator new(bytes, std::align_val_t(page_size));
  buffers[buf] = bytes;
  fake_hdd.live_bytes += (int64_t)bytes;
  return buf;
}

int free_hdd_buffer(void *buf, const hdd_info *info, int nblocks) {
  ++fake_hdd.frees;
  auto found = buffers.find(buf);
  size_t bytes = (size_t)nblocks * info->block_size;
  if (found == buffers.end()) {
    misuse("free of a buffer not allocated");
    return 0;
  }
  if (found->second != bytes) misuse("free with another size than allocated");
  fake_hdd.live_bytes -= (int64_t)found->second;
  buffers.erase(found);
  operator delete(buf, std::align_val_t(page_size));
  return 1;
}

int position_hdd(intptr_t handle, const hdd_info *info, int64_t block) {
  if (drive_of(handle) == nullptr) {
    misuse("positioning on a handle not open");
    last_error = fake_hdd.error_code;
    return -1;
  }
  if (++fake_hdd.positionings == fake_hdd.fail_position_at) {
    last_error = fake_hdd.error_code;
    return -1;
  }
  positions[(int)handle] = block * info->block_size;
  return 0;
}

static bool buffer_holds(const void *buf, size_t bytes) {
  auto found = buffers.find(buf);
  return found != buffers.end() && found->second >= bytes;
}

int read_hdd_cur(intptr_t handle, const hdd_info *info, int nblocks, void *buf) {
  fake_drive *drive = drive_of(handle);
  int number = (int)fake_hdd.reads.size() + 1;
  int64_t position = drive != nullptr ? positions[(int)handle] : 0;
  int64_t block = position / (int64_t)info->block_size;
  size_t bytes = (size_t)nblocks * info->block_size;
  int result = -1;
  if (drive == nullptr) {
    misuse("read on a handle not open");
  } else if ((uintptr_t)buf % page_size != 0 || !buffer_holds(buf, bytes)) {
    misuse("read into a buffer that is unaligned or too small");
  } else if (position % info->block_size != 0 || nblocks <= 0) {
    misuse("read of a partial block");
  } else if (number == fake_hdd.fail_read_at ||
             (fake_hdd.fail_reads_from > 0 && number >= fake_hdd.fail_reads_from)) {
    result = -1;
  } else {
    int64_t end = drive->device_blocks >= 0 ? drive->device_blocks : drive->n_blocks;
    int64_t available = end > block ? end - block : 0;
    result = (int)(available < nblocks ? available : nblocks);
    if (number == fake_hdd.short_read_at && result > 0) --result;
    positions[(int)handle] = position + (int64_t)result * info->block_size;
    uint32_t ms = fake_hdd.ms_per_read + fake_hdd.ms_per_block * (uint32_t)result;
    fake_clock_ms += ms;
    fake_clock_ns += ms * 1000000ull;
  }
  if (drive != nullptr) {
    size_t scripted = fake_hdd.reads.size();
    fake_clock_ns +=
        scripted < fake_hdd.read_ns_script.size() ? fake_hdd.read_ns_script[scripted] : fake_hdd.ns_per_read;
  }
  if (drive != nullptr && block + nblocks > drive->n_blocks + 1)
    misuse("read past block n_blocks: block " + std::to_string(block));
  if (result < 0) last_error = fake_hdd.error_code;
  fake_hdd.reads.push_back({(int)handle, block, nblocks, result});
  return result;
}

int hdd_last_error() { return last_error; }

void describe_hdd_error(int code, char *text, size_t size) { snprintf(text, size, "fake error %d", code); }
