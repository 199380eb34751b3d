#include "tick.h"

#include <time.h>

// Cut to 32 bits, so that elapsed times wrap exactly as the Windows tick does.
uint32_t read_tick() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (uint32_t)((uint64_t)now.tv_sec * 1000u + (uint64_t)now.tv_nsec / 1000000u);
}
