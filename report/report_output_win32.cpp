#include "report_output.h"

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <string.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>

#include "system_error.h"

static int fail(int code, std::string *why) {
  *why = strerror(code);
  return -1;
}

static int fail_system(DWORD code, std::string *why) {
  char text[512];
  describe_system_error((int)code, text, sizeof text);
  *why = text;
  return -1;
}

static int refuse(const char *what, report_output *out, std::string *why) {
  out->refused = true;
  *why = what;
  return -1;
}

static bool is_separator(char c) { return c == '\\' || c == '/'; }

// \\.\X or \\?\X: a name in the device namespace.
static bool in_device_namespace(const char *path) {
  return is_separator(path[0]) && is_separator(path[1]) && (path[2] == '.' || path[2] == '?') &&
         is_separator(path[3]);
}

// A device itself (\\.\C:, \\.\PhysicalDrive0), not a file on one (\\?\C:\x.txt).
static bool names_a_device(const char *path) {
  return in_device_namespace(path) && strpbrk(path + 4, "\\/") == nullptr;
}

// Opening a named pipe to look at it would take one of its instances.
static bool names_a_pipe(const char *path) {
  return in_device_namespace(path) && _strnicmp(path + 4, "pipe", 4) == 0 && is_separator(path[8]);
}

// A file's volume and number on it.
struct file_identity {
  unsigned long long volume;
  unsigned char number[16];
};

static bool identify_file(HANDLE file, file_identity *identity) {
  *identity = file_identity{};
  FILE_ID_INFO id;
  if (GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof id)) {
    identity->volume = id.VolumeSerialNumber;
    memcpy(identity->number, id.FileId.Identifier, sizeof identity->number);
    return true;
  }
  // Before Windows 8: the 64-bit file index.
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return false;
  identity->volume = info.dwVolumeSerialNumber;
  memcpy(identity->number, &info.nFileIndexLow, sizeof info.nFileIndexLow);
  memcpy(identity->number + 4, &info.nFileIndexHigh, sizeof info.nFileIndexHigh);
  return true;
}

static bool is_standard_input(const file_identity *target) {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  file_identity identity;
  if (input == nullptr || input == INVALID_HANDLE_VALUE || GetFileType(input) != FILE_TYPE_DISK ||
      !identify_file(input, &identity) ||
      memcmp(identity.number, target->number, sizeof identity.number) != 0)
    return false;
  // Wine knows no volume for a standard handle it was given by the shell.
  return identity.volume == target->volume || identity.volume == 0;
}

static int open_directly(report_output *out, std::string *why) {
  out->file = fopen(out->target.c_str(), "wb");
  return out->file != nullptr ? 0 : fail(errno, why);
}

// A new file gets the folder's inherited permissions, as the target would.
static int open_temporary(report_output *out, std::string *why) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  unsigned long long noise =
      (unsigned long long)now.QuadPart * 2654435761u ^ (unsigned long long)GetCurrentProcessId() << 20;
  for (unsigned attempt = 0; attempt < temporary_attempts; ++attempt) {
    std::string name = temporary_name(out->target, "\\/:", noise ^ attempt * 40503u);
    int fd = _open(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return fail(errno, why);
    out->temporary = name;
    out->file = _fdopen(fd, "wb");
    if (out->file != nullptr) return 0;
    int error = errno;
    _close(fd);
    abort_report_output(out);
    return fail(error, why);
  }
  return fail(EEXIST, why);
}

int named_descriptor(const char *) { return -1; }

int open_report_descriptor(int, report_output *, std::string *why) { return fail(EBADF, why); }

int open_report_target(const char *path, report_output *out, std::string *why) {
  if (names_a_pipe(path)) return open_directly(out, why);
  // No access asked: enough to tell what the name is, even for a volume.
  HANDLE probe = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (probe == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND && !names_a_device(path) ? open_temporary(out, why)
                                                                  : fail_system(error, why);
  }
  DWORD type = GetFileType(probe);
  BY_HANDLE_FILE_INFORMATION info;
  file_identity target;
  bool known = GetFileInformationByHandle(probe, &info) && identify_file(probe, &target);
  DWORD error = GetLastError();
  CloseHandle(probe);
  if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) return open_directly(out, why);
  if (names_a_device(path)) return refuse("a block device", out, why);
  if (!known) return fail_system(error, why);
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return fail(EISDIR, why);
  if (is_standard_input(&target)) return refuse("standard input", out, why);
  return open_temporary(out, why);
}

int sync_report_file(FILE *file, std::string *why) {
  return _commit(_fileno(file)) == 0 ? 0 : fail(errno, why);
}

int replace_report_target(report_output *out, std::string *why) {
  if (!MoveFileExA(out->temporary.c_str(), out->target.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return fail_system(GetLastError(), why);
  out->temporary.clear();
  return 0;
}

void remove_report_temporary(report_output *out) {
  DeleteFileA(out->temporary.c_str());
  out->temporary.clear();
}
