// The two read measurements of an open volume, each printed as a table on
// standard output: header "%15s%15s%15s%15s", then rows "%15i%15i%15i%15f"
// (the random table's first column is 64-bit). Speeds are in MiB per second,
// computed from the whole blocks actually read. Each read is timed on the
// nanosecond clock as well (read_times.h), and after each row that made reads
// one line on standard error names the root and the row and gives their
// times: "blockmeter: ROOT: sequential 11 blocks: read time us: first ...,
// max ..." (or "random range 4096"). After it, when reads of the row failed or
// came back short, one more says how many and why; so does a buffer that
// cannot be allocated. While a row is measured, the progress line
// (progress.h) shows it where standard error is a terminal. A read that
// fails (an error, a failed positioning included) makes its test's result -1;
// one that only comes back short, as at the volume's end, does not. A test
// stops at the first row that standard output does not take (its error flag
// set), with the result -1, so that nothing is measured that cannot be shown.
#pragma once

#include <cstdint>

#include "hdd.h"

// Names root in the lines on standard error, until named again, with its
// control characters escaped (terminal_text).
void name_read_reports(const char *root);

// Reads from block 0 in steps of 1 up to max_blocks blocks per read (steps at
// least 2), reps reads per step, capped so that no step reads past n_blocks;
// reps adapts to each step's time. Returns 0, or -1 when a read failed or its
// buffer cannot be allocated (no table is printed then).
int test_multisect(intptr_t handle, const hdd_info *info, int reps, int max_blocks, int steps);

// Random single-block reads over the whole volume, then over ranges halved
// pass by pass while above 1; reads per pass doubles after each fast pass.
// Returns 0, or -1 when a read failed or a pass's buffer cannot be allocated
// (that pass prints no row).
int test_randomread(intptr_t handle, const hdd_info *info, int reads);

// One pass: reads random blocks 0..range inclusive, never the same block twice
// in a row, and prints its row. Returns the elapsed milliseconds (at least 1),
// or -1 when its buffer cannot be allocated (no row is printed then).
int test_randomread_range(intptr_t handle, const hdd_info *info, int reads, int64_t range);
