#include "terminal.h"

#include <windows.h>

constexpr int default_columns = 80;

// A console, not any character device: _isatty also takes the null device
// for a terminal.
int standard_error_columns() {
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode;
  if (error == nullptr || error == INVALID_HANDLE_VALUE || !GetConsoleMode(error, &mode)) return 0;
  CONSOLE_SCREEN_BUFFER_INFO screen;
  if (!GetConsoleScreenBufferInfo(error, &screen)) return default_columns;
  int columns = screen.srWindow.Right - screen.srWindow.Left + 1;
  return columns > 0 ? columns : default_columns;
}
