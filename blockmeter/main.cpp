#include <cerrno>

#include "blockmeter.h"
#include "standard_streams.h"

int main(int argc, char **argv) {
  // A standard output closed at start is now the null device, where every
  // result would be lost.
  if (!open_standard_streams()) return fail_standard_output(EBADF);
  return run_blockmeter(argc, argv);
}
