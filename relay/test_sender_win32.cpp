#include "test_sender.h"

#include <windows.h>

int count_other_handles() {
  HANDLE standard[3] = {GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE),
                        GetStdHandle(STD_ERROR_HANDLE)};
  // Handle values are small multiples of 4; a pipe end among them that is not
  // a standard handle was inherited without being handed over.
  int count = 0;
  for (uintptr_t value = 4; value < 0x10000; value += 4) {
    HANDLE handle = (HANDLE)value;
    DWORD flags;
    if (!GetHandleInformation(handle, &flags)) continue;
    if (handle == standard[0] || handle == standard[1] || handle == standard[2]) continue;
    if (GetFileType(handle) == FILE_TYPE_PIPE) ++count;
  }
  return count;
}
