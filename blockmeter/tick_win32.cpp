#include "tick.h"

#include <windows.h>

// Milliseconds from the high-resolution counter: GetTickCount advances in
// steps of 10 to 16 ms, too coarse for rows of a few milliseconds. Cut to 32
// bits, so that elapsed times wrap as the tick always has.
uint32_t read_tick() {
  // The counter's frequency is fixed at boot; asked once, on the first
  // reading, which no measurement's interval contains.
  static uint64_t per_second = 0;
  if (per_second == 0) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    per_second = (uint64_t)frequency.QuadPart;
  }
  LARGE_INTEGER count;
  QueryPerformanceCounter(&count);
  uint64_t ticks = (uint64_t)count.QuadPart;
  // Whole seconds and the rest apart, so that no product overflows.
  return (uint32_t)(ticks / per_second * 1000 + ticks % per_second * 1000 / per_second);
}
