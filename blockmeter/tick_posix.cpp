#include "tick.h"

#include <time.h>

// Cut to 32 bits, so that elapsed times wrap exactly as the Windows tick does.
uint32_t read_tick() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (uint32_t)((uint64_t)now.tv_sec * 1000u + (uint64_t)now.tv_nsec / 1000000u);
}

// CLOCK_MONOTONIC is read in user space (the vDSO) where the clock source
// allows it, so a reading adds no system call between a row's reads.
uint64_t read_clock_ns() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (uint64_t)now.tv_sec * 1000000000u + (uint64_t)now.tv_nsec;
}
