// The system's millisecond tick and nanosecond clock, read for real against
// the system's steady clock: the tick moves a millisecond at a time, the clock
// in steps far below a read's time, and both keep pace.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "tick.h"

namespace {

using steady = std::chrono::steady_clock;

// One reading of the tick, with steady clock readings on either side: the
// tick had its value at some moment between them.
struct tick_reading {
  steady::time_point before, after;
  uint32_t tick;
};

tick_reading read_bracketed() {
  tick_reading reading;
  reading.before = steady::now();
  reading.tick = read_tick();
  reading.after = steady::now();
  return reading;
}

double ms_between(steady::time_point from, steady::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

TEST(tick, advances_a_millisecond_at_a_time) {
  constexpr uint32_t span_ms = 50;
  const tick_reading first = read_bracketed();
  const steady::time_point give_up = first.after + std::chrono::seconds(5);
  tick_reading value_first = first, last = first;
  double longest_held_ms = 0;
  while ((uint32_t)(last.tick - first.tick) < span_ms) {
    ASSERT_LT(last.after, give_up) << "the tick did not advance " << span_ms << " ms within 5 s";
    last = read_bracketed();
    if (last.tick != value_first.tick) value_first = last;
    // At least this long the tick held one value. A thread kept from running
    // only widens the brackets, so this is the tick's own step: about 1 ms
    // here, 10 to 16 ms for GetTickCount on Windows.
    double held_ms = ms_between(value_first.after, last.before);
    longest_held_ms = held_ms > longest_held_ms ? held_ms : longest_held_ms;
  }
  EXPECT_LE(longest_held_ms, 2.0) << "the tick held one value this long (ms)";
  uint32_t advanced = last.tick - first.tick;
  EXPECT_GE(advanced + 1.0, ms_between(first.after, last.before)) << "the tick ran slow";
  EXPECT_LE(advanced, ms_between(first.before, last.after) + 1.0) << "the tick ran fast";
}

// A read takes tens of microseconds and more: the clock must step well
// below one, never go back, and count real nanoseconds.
TEST(clock, steps_under_a_microsecond_and_keeps_pace) {
  const steady::time_point start = steady::now();
  const uint64_t first = read_clock_ns();
  uint64_t last = first, smallest_step = UINT64_MAX;
  for (int i = 0; i < 100000; ++i) {
    uint64_t now = read_clock_ns();
    ASSERT_GE(now, last) << "the clock went back";
    if (now > last) smallest_step = std::min(smallest_step, now - last);
    last = now;
  }
  EXPECT_LT(smallest_step, 1000u) << "the smallest step seen (ns)";
  // Wait for 50 ms of the steady clock, then compare the spans.
  while (steady::now() - start < std::chrono::milliseconds(50)) {
  }
  const double steady_ms = ms_between(start, steady::now());
  const double clock_ms = (double)(read_clock_ns() - first) / 1e6;
  EXPECT_NEAR(steady_ms, clock_ms, 1.0) << "the clock and the steady clock disagree over 50 ms";
}

}  // namespace
