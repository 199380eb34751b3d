#include "hdd.h"

#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <winioctl.h>

#include "system_error.h"

const char *const default_hdd_root = "C:\\";

const char *const hdd_root_usage =
    "A root is a drive root such as D:\\; the volume \\\\.\\D: behind it is read.\n"
    "With no root, C:\\ is read. Opening a volume raw needs administrator rights.\n";

const char *const hdd_help_option = "/?";

static DWORD last_error = 0;

// The volume opened is \\.\X: from the root's first character, so the
// geometry must come from that drive's root and nothing else: a relative
// folder would be measured on another volume than the one read.
const char *hdd_root_problem(const char *root) {
  size_t length = strlen(root);
  if ((length == 2 || (length == 3 && root[2] == '\\')) && root[1] == ':') return nullptr;
  return "not a drive root; name a drive as D: or D:\\";
}

int get_hdd_info(const char *root, hdd_info *info) {
  DWORD sectors_per_cluster, bytes_per_sector, free_clusters, total_clusters;
  if (!GetDiskFreeSpaceA(root, &sectors_per_cluster, &bytes_per_sector, &free_clusters, &total_clusters)) {
    last_error = GetLastError();
    return -1;
  }
  info->block_size = bytes_per_sector;
  info->n_blocks = (int64_t)((uint64_t)total_clusters * sectors_per_cluster);
  return 0;
}

// The volume \\.\X: of the root's drive letter, into path of 8 characters.
static void volume_path(const char *root, char *path) { wsprintfA(path, "\\\\.\\%c:", root[0]); }

intptr_t open_hdd(const char *root) {
  char path[8];
  volume_path(root, path);
  HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_NO_BUFFERING | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) last_error = GetLastError();
  return (intptr_t)handle;
}

void name_hdd_volume(const char *root, char *text, size_t size) { snprintf(text, size, "%s", root); }

// A volume is opened raw: every block of it is on the device.
int get_hdd_backing(intptr_t, hdd_backing *backing) {
  *backing = {0, 0, 0};
  return 0;
}

// What the system tells of the volume without further rights: the file
// system, the device behind the drive letter and, through the open handle,
// its size.
int get_hdd_devices(const char *root, intptr_t handle, std::vector<hdd_device> *devices) {
  hdd_device device;
  char node[8], letter[3] = {root[0], ':', '\0'}, volume_root[4] = {root[0], ':', '\\', '\0'};
  volume_path(root, node);
  device.node = node;
  // The first of the names the letter stands for.
  char target[1024];
  if (QueryDosDeviceA(letter, target, sizeof target) != 0) device.system_name = target;
  char file_system[MAX_PATH + 1];
  if (GetVolumeInformationA(volume_root, nullptr, 0, nullptr, nullptr, nullptr, file_system,
                            sizeof file_system))
    device.file_system = file_system;
  GET_LENGTH_INFORMATION length;
  DWORD returned = 0;
  if (DeviceIoControl((HANDLE)handle, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length,
                      &returned, nullptr))
    device.bytes = length.Length.QuadPart;
  devices->assign(1, device);
  return 0;
}

int close_hdd(intptr_t handle) {
  BOOL closed = CloseHandle((HANDLE)handle);
  if (!closed) last_error = GetLastError();
  return closed;
}

void *alloc_hdd_buffer(const hdd_info *info, int nblocks) {
  void *buf = VirtualAlloc(nullptr, (DWORD)nblocks * info->block_size, MEM_COMMIT, PAGE_READWRITE);
  if (buf == nullptr) last_error = GetLastError();
  return buf;
}

// Released, not only decommitted, so that a run of many buffers does not use
// up the address space.
int free_hdd_buffer(void *buf, const hdd_info *, int) {
  BOOL freed = VirtualFree(buf, 0, MEM_RELEASE);
  if (!freed) last_error = GetLastError();
  return freed;
}

int position_hdd(intptr_t handle, const hdd_info *info, int64_t block) {
  int64_t offset = block * info->block_size;
  LONG high = (LONG)(offset >> 32);
  // With the high half asked for, a low half of all ones is also a valid
  // position: only the last error tells a failure apart.
  SetLastError(NO_ERROR);
  DWORD low = SetFilePointer((HANDLE)handle, (LONG)(offset & 0xFFFFFFFF), &high, FILE_BEGIN);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) {
    last_error = GetLastError();
    return -1;
  }
  return 0;
}

int read_hdd_cur(intptr_t handle, const hdd_info *info, int nblocks, void *buf) {
  DWORD bytes = 0;
  if (!ReadFile((HANDLE)handle, buf, (DWORD)nblocks * info->block_size, &bytes, nullptr)) {
    last_error = GetLastError();
    return -1;
  }
  return (int)(bytes / info->block_size);
}

int hdd_last_error() { return (int)last_error; }

void describe_hdd_error(int code, char *text, size_t size) { describe_system_error(code, text, size); }
