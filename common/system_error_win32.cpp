#include "system_error.h"

#include <stdio.h>
#include <windows.h>

void describe_system_error(int code, char *text, size_t size) {
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                (DWORD)code, 0, text, (DWORD)size, nullptr);
  // The system's texts end in a line end, which the caller's message supplies.
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == ' '))
    text[--length] = '\0';
  if (length == 0) snprintf(text, size, "system error %d", code);
}
