#include "standard_streams.h"

#include <windows.h>

// Handles have no places that a later open could take; only whether there is
// a standard output to write to is to be told.
bool open_standard_streams() {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  return output != nullptr && output != INVALID_HANDLE_VALUE;
}
