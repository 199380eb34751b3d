#include "random_block.h"

#include <cstdint>

// The linear congruential generator of the classic Windows C runtime, kept in
// our own code so that every build on every system draws the same blocks.
static uint32_t random_state = 1;

int draw_random() {
  random_state = random_state * 214013u + 2531011u;
  return (int)((random_state >> 16) & 0x7FFF);
}

void reset_random() { random_state = 1; }
