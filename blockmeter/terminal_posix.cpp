#include "terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

constexpr int default_columns = 80;

int standard_error_columns() {
  if (!isatty(STDERR_FILENO)) return 0;
  winsize size;
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return default_columns;
  return size.ws_col;
}
