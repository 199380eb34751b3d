// The system's millisecond tick, read for real against the system's steady
// clock: it moves a millisecond at a time and keeps pace.
#include <gtest/gtest.h>

#include <chrono>

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

}  // namespace
