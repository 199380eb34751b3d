// Fake drive, clocks, terminal and priority for the tests, linked in place of
// the system's. The fake drive rejects, and logs as misuse, what a real
// unbuffered device would reject; its clocks move only inside its reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hdd.h"

struct fake_drive {
  std::string root;
  uint32_t block_size = 512;
  int64_t n_blocks = 0;
  int64_t device_blocks = -1;  // where the medium really ends; -1: at n_blocks
  bool geometry_fails = false;
  bool open_fails = false;
  int64_t encoded_bytes = 0;             // what get_hdd_backing says is compressed
  std::vector<hdd_device> devices = {};  // what get_hdd_devices gives; empty: one named as the root
};

struct fake_read {
  int handle;
  int64_t block;  // first block asked for
  int nblocks;
  int result;
};

struct fake_hdd_state {
  std::vector<fake_drive> drives;
  std::string bad_root;  // a root hdd_root_problem turns away

  // Knobs.
  uint32_t ms_per_read = 0;              // both clocks' advance per read that does not fail
  uint32_t ms_per_block = 0;             // and per block read
  uint64_t ns_per_read = 0;              // the nanosecond clock's per read call, failed ones too
  std::vector<uint64_t> read_ns_script;  // or instead, for the N-th read call, its (N-1)-th entry
  int fail_read_at = 0;                  // the N-th read (1-based) fails; 0: none
  int fail_reads_from = 0;               // every read from the N-th on fails; 0: none
  int short_read_at = 0;                 // the N-th read comes back one block short
  int fail_alloc_at = 0;                 // the N-th buffer allocation fails
  int fail_position_at = 0;              // the N-th positioning fails
  int error_code = 5;                    // the code a failure leaves for hdd_last_error

  // Log.
  std::vector<fake_read> reads;
  std::vector<std::string> events;  // "info ROOT", "open ROOT", "close ROOT"
  int allocs = 0;
  int positionings = 0;
  int frees = 0;
  int64_t live_bytes = 0;           // buffer bytes allocated and not yet freed
  std::vector<std::string> misuse;  // what a real device would have rejected
};

extern fake_hdd_state fake_hdd;

// The fake tick: returns fake_clock_ms, which fake reads advance. When
// tick_script is not empty, each reading instead takes its next value.
extern uint32_t fake_clock_ms;
extern std::vector<uint32_t> tick_script;

// The fake nanosecond clock: returns fake_clock_ns, which fake reads advance.
extern uint64_t fake_clock_ns;

// The width of the terminal that standard error is, or 0: no terminal.
extern int fake_terminal_columns;

extern int priority_raises;

// Back to no drives, no knobs, an empty log, the clocks at 0, no terminal and
// the random sequence at its start.
void reset_fakes();
