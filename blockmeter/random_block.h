// The pseudo-random generator that picks blocks: the same sequence on every
// system and in every run, continued over the whole run.
#pragma once

#include <cstdint>

constexpr int random_max = 32767;

// The next value, from 0 to random_max inclusive.
int draw_random();

// A block from 0 to range inclusive for the next value r: r × range ÷
// random_max, truncated, computed exactly for every range (a range of 0 or less
// gives a block from range to 0).
int64_t draw_block(int64_t range);

// Restarts the sequence from its fixed start.
void reset_random();
