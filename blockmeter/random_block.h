// The pseudo-random generator that picks blocks: the same sequence on every
// system and in every run, continued over the whole run.
#pragma once

constexpr int random_max = 32767;

// The next value, from 0 to random_max inclusive.
int draw_random();

// Restarts the sequence from its fixed start.
void reset_random();
