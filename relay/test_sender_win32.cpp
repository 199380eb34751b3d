#include "test_sender.h"

#include <aclapi.h>
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

int output_open_to_all() {
  PACL access_list = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(GetStdHandle(STD_OUTPUT_HANDLE), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                      nullptr, &access_list, nullptr, &descriptor) != ERROR_SUCCESS)
    return -1;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  BOOL known = GetSecurityDescriptorControl(descriptor, &control, &revision);
  LocalFree(descriptor);
  if (!known) return -1;
  // A list that is present but null restricts no one; an absent one means the
  // object's default, as the system gives it.
  return (control & SE_DACL_PRESENT) != 0 && access_list == nullptr ? 1 : 0;
}
