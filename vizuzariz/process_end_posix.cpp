// glibc: flockfile and fflush_unlocked.
#include "process_end.h"

#include <stdio.h>
#include <unistd.h>

void end_process(int status) {
  // exit() would flush standard output without taking its lock, at the same
  // time as the other thread's printf fills or writes the same buffer: that
  // tears lines and writes some twice. Holding the lock until _exit() leaves
  // no moment in which the other thread can be inside printf.
  flockfile(stdout);
  fflush_unlocked(stdout);
  _exit(status);
}
