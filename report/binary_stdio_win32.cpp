#include "binary_stdio.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

// Text mode would write CR LF for each line feed and stop reading at a
// Ctrl+Z byte.
void set_binary_stdio() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
}
