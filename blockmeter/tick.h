// The millisecond tick: a count of milliseconds since some fixed moment,
// wrapping at 2^32. Elapsed times are differences of two readings, formed
// as 32-bit unsigned differences so that they stay right across the wrap.
#pragma once

#include <cstdint>

uint32_t read_tick();
