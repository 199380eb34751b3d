#include "tick.h"

#include "fakes.h"

uint32_t fake_clock_ms = 0;
std::vector<uint32_t> tick_script;
uint64_t fake_clock_ns = 0;

uint32_t read_tick() {
  if (tick_script.empty()) return fake_clock_ms;
  uint32_t tick = tick_script.front();
  tick_script.erase(tick_script.begin());
  return tick;
}

uint64_t read_clock_ns() { return fake_clock_ns; }
