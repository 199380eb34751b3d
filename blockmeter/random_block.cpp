#include "random_block.h"

#include <cstdint>

// The linear congruential generator of the classic Windows C runtime, kept in
// our own code so that every build on every system draws the same blocks.
static uint32_t random_state = 1;

int draw_random() {
  random_state = random_state * 214013u + 2531011u;
  return (int)((random_state >> 16) & 0x7FFF);
}

// r × range overflows 64 bits for ranges above 2^63 / 32767; split range into
// q × random_max + m and the product into r × q × random_max + r × m, whose
// second part stays small.
int64_t draw_block(int64_t range) {
  int64_t r = draw_random();
  return r * (range / random_max) + r * (range % random_max) / random_max;
}

void reset_random() { random_state = 1; }
