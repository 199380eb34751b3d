#include "pipe.h"

#include <windows.h>

int create_pipe(pipe_ends *pipe, int *error) {
  // No descriptor of our own: an anonymous pipe is a named pipe underneath,
  // and a null access list would let any local account open it by its name;
  // the default one comes from our token, like that of any object we create
  // without one. Not inheritable: start_child makes a child's own end
  // inheritable for its start only, so no child holds an end that would keep
  // a pipe open.
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
  HANDLE read_end, write_end;
  if (!CreatePipe(&read_end, &write_end, &attributes, 0)) {
    *error = (int)GetLastError();
    return -1;
  }
  pipe->read_end = (os_handle)read_end;
  pipe->write_end = (os_handle)write_end;
  return 0;
}

os_handle std_handle(std_stream which) {
  static const DWORD selectors[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  return (os_handle)GetStdHandle(selectors[which]);
}

size_t read_once(os_handle handle, void *buffer, size_t size) {
  DWORD count = 0;
  if (!ReadFile((HANDLE)handle, buffer, (DWORD)size, &count, nullptr)) return 0;
  return count;
}

size_t write_once(os_handle handle, const void *buffer, size_t size) {
  DWORD count = 0;
  if (!WriteFile((HANDLE)handle, buffer, (DWORD)size, &count, nullptr)) return 0;
  return count;
}

void close_handle(os_handle handle) { CloseHandle((HANDLE)handle); }

// A write into a pipe with no reader fails here anyway.
void ignore_broken_pipes() {}
