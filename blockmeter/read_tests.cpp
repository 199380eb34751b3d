#include "read_tests.h"

#include <cstdio>
#include <string>

#include "blockmeter_format.h"
#include "progress.h"
#include "random_block.h"
#include "read_times.h"
#include "terminal_text.h"
#include "tick.h"

constexpr int reps_halve_above_ms = 10000;
constexpr int reps_double_below_ms = 500;
constexpr int reads_double_below_ms = 4000;

// The root named in the lines on standard error, and how many rows had reads
// that failed, so that a test can tell whether it measured in full.
static std::string reported_root;
static int rows_with_failed_reads = 0;

void name_read_reports(const char *root) { reported_root = terminal_text(root); }

// What one row's reads delivered. Kept to plain counters, since it is
// updated between the two tick readings.
struct read_tally {
  int64_t blocks;    // whole blocks read
  int bad_reads;     // reads that failed or came back short
  bool failed;       // at least one of them failed (not only came back short)
  int first_result;  // what the first bad read returned (-1: it failed)
  int first_error;   // the system's error code of that read, when it failed
};

static inline void tally_read(read_tally *tally, int result, int nblocks) {
  if (result == nblocks) {
    tally->blocks += result;
    return;
  }
  if (tally->bad_reads++ == 0) {
    tally->first_result = result;
    tally->first_error = result < 0 ? hdd_last_error() : 0;
  }
  if (result < 0) tally->failed = true;
  if (result > 0) tally->blocks += result;
}

// The row a line on standard error is about: "sequential 11 blocks" or
// "random range 4096".
static void name_row(char *text, size_t size, bool random, int64_t key) {
  snprintf(text, size, random ? random_row_format : sequential_row_format, (long long)key);
}

// The row's read times, on the line after its table line. A row that made
// no reads has no times to show.
static void report_read_times(const read_times *times, bool random, int64_t key) {
  if (times->count == 0) return;
  char row[64];
  name_row(row, sizeof row, random, key);
  fprintf(stderr, "%s%s: %s: %s%s\n", program_prefix, reported_root.c_str(), row, read_times_words,
          describe_read_times(times).c_str());
}

static void report_bad_reads(const read_tally *tally, bool random, int64_t key, int reads, int nblocks) {
  if (tally->bad_reads == 0) return;
  if (tally->failed) ++rows_with_failed_reads;
  char row[64], reason[256];
  name_row(row, sizeof row, random, key);
  if (tally->first_result < 0)
    describe_hdd_error(tally->first_error, reason, sizeof reason);
  else
    snprintf(reason, sizeof reason, "%d of %d blocks read", tally->first_result, nblocks);
  fprintf(stderr, read_failure_format, reported_root.c_str(), row, tally->bad_reads, reads, reason);
}

// Allocates a buffer of nblocks blocks, or says on standard error why not.
static void *alloc_buffer(const hdd_info *info, int nblocks, bool random, int64_t key) {
  void *buf = alloc_hdd_buffer(info, nblocks);
  if (buf != nullptr) return buf;
  char row[64], reason[256];
  if (random)
    name_row(row, sizeof row, random, key);
  else
    snprintf(row, sizeof row, "sequential test");
  describe_hdd_error(hdd_last_error(), reason, sizeof reason);
  fprintf(stderr, "blockmeter: %s: %s: cannot allocate %lld bytes: %s\n", reported_root.c_str(), row,
          (long long)nblocks * info->block_size, reason);
  return nullptr;
}

// The tick wraps at 2^32: the unsigned difference is right across the wrap.
// A measurement too quick for the tick counts as 1 ms, so that a speed exists.
static int elapsed_ms(uint32_t first, uint32_t second) {
  int ms = (int32_t)(second - first);
  return ms == 0 ? 1 : ms;
}

// A row's read times: filled between its tick readings, where nothing may be
// allocated, so kept for the whole run and emptied before each row.
static read_times row_times;

static double mib_per_s(int64_t bytes, int ms) { return (double)bytes / (ms / 1000.0) / 1024 / 1024; }

static void print_header(const char *first_column, const char *second_column) {
  printf("%15s%15s%15s%15s\n", first_column, second_column, time_column, speed_column);
}

int test_multisect(intptr_t handle, const hdd_info *info, int reps, int max_blocks, int steps) {
  void *buf = alloc_buffer(info, max_blocks, false, 0);
  if (buf == nullptr) return -1;
  int failed_before = rows_with_failed_reads;
  print_header(sequential_first_column, sequential_second_column);
  for (int step = 0; step < steps && !ferror(stdout); ++step) {
    int nblocks = sequential_step_blocks(step, max_blocks, steps);
    seek_hdd(handle, info, 0);
    read_tally tally = {};
    int64_t reads = reps;
    if ((int64_t)reps * nblocks > info->n_blocks) reads = info->n_blocks / nblocks;
    start_read_times(&row_times);
    char row[64];
    name_row(row, sizeof row, false, nblocks);
    show_progress(row, step + 1, steps);
    uint32_t first = read_tick();
    for (int64_t i = 0; i < reads; ++i) {
      uint64_t before = read_clock_ns();
      int result = read_hdd_cur(handle, info, nblocks, buf);
      add_read_time(&row_times, read_clock_ns() - before);
      tally_read(&tally, result, nblocks);
    }
    uint32_t second = read_tick();
    erase_progress();

    int ms = elapsed_ms(first, second);
    printf("%15i%15i%15i%15f\n", nblocks, (int)reads, ms, mib_per_s(tally.blocks * info->block_size, ms));
    report_read_times(&row_times, false, nblocks);
    report_bad_reads(&tally, false, nblocks, (int)reads, nblocks);
    if (ms > reps_halve_above_ms)
      reps >>= 1;
    else if (ms < reps_double_below_ms)
      reps <<= 1;
  }
  free_hdd_buffer(buf, info, max_blocks);
  return rows_with_failed_reads == failed_before && !ferror(stdout) ? 0 : -1;
}

int test_randomread_range(intptr_t handle, const hdd_info *info, int reads, int64_t range) {
  void *buf = alloc_buffer(info, 1, true, range);
  if (buf == nullptr) return -1;
  read_tally tally = {};
  int64_t previous = -1;
  start_read_times(&row_times);
  char row[64];
  name_row(row, sizeof row, true, range);
  int passes = random_passes(info->n_blocks);
  show_progress(row, passes - random_passes(range) + 1, passes);
  uint32_t first = read_tick();
  for (int i = 0; i < reads; ++i) {
    int64_t block;
    // Never the same block twice in a row, so no read is served by the
    // device's own cache of the one before. A range below 1 has one block.
    do block = draw_block(range);
    while (block == previous && range > 0);
    // The clock readings bracket the read call alone, not the draw.
    uint64_t before = read_clock_ns();
    int result = read_hdd(handle, info, block, 1, buf);
    add_read_time(&row_times, read_clock_ns() - before);
    tally_read(&tally, result, 1);
    previous = block;
  }
  uint32_t second = read_tick();
  erase_progress();

  int ms = elapsed_ms(first, second);
  free_hdd_buffer(buf, info, 1);
  printf("%15lli%15i%15i%15f\n", (long long)range, reads, ms, mib_per_s(tally.blocks * info->block_size, ms));
  report_read_times(&row_times, true, range);
  report_bad_reads(&tally, true, range, reads, 1);
  return ms;
}

int test_randomread(intptr_t handle, const hdd_info *info, int reads) {
  int failed_before = rows_with_failed_reads;
  bool allocated = true;
  print_header(random_first_column, random_second_column);
  for (int64_t range = info->n_blocks; range > 1 && !ferror(stdout); range >>= 1) {
    int ms = test_randomread_range(handle, info, reads, range);
    if (ms < 0) allocated = false;
    if (ms < reads_double_below_ms) reads <<= 1;
  }
  return allocated && rows_with_failed_reads == failed_before && !ferror(stdout) ? 0 : -1;
}
