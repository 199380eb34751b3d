// The clocks a measurement reads: the millisecond tick that times a row, and
// the nanosecond clock that times each read in it.
#pragma once

#include <cstdint>

// The millisecond tick: a count of milliseconds since some fixed moment,
// wrapping at 2^32. Elapsed times are differences of two readings, formed
// as 32-bit unsigned differences so that they stay right across the wrap.
uint32_t read_tick();

// The system's high-resolution monotonic clock, in nanoseconds since some
// fixed moment (the monotonic clock on Linux, the performance counter on
// Windows). It never goes back; the difference of two readings is the time
// between them, to the clock's own resolution. Never fails.
uint64_t read_clock_ns();
