#include "tick.h"

#include <windows.h>

// The counter's frequency is fixed at boot; asked once, on the first reading
// of the tick, which comes before any read is timed.
static uint64_t counter_frequency() {
  static uint64_t per_second = 0;
  if (per_second == 0) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    per_second = (uint64_t)frequency.QuadPart;
  }
  return per_second;
}

// The counter in units of 1/scale s. Whole seconds and the rest apart, so
// that no product overflows (the rest times 10^9 stays below 2^64 for any
// frequency under 18 GHz).
static uint64_t read_counter(uint64_t scale) {
  uint64_t per_second = counter_frequency();
  LARGE_INTEGER count;
  QueryPerformanceCounter(&count);
  uint64_t ticks = (uint64_t)count.QuadPart;
  return ticks / per_second * scale + ticks % per_second * scale / per_second;
}

// Milliseconds from the high-resolution counter: GetTickCount advances in
// steps of 10 to 16 ms, too coarse for rows of a few milliseconds. Cut to 32
// bits, so that elapsed times wrap as the tick always has.
uint32_t read_tick() { return (uint32_t)read_counter(1000); }

uint64_t read_clock_ns() { return read_counter(1000000000); }
