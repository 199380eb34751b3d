// The times of a row's reads: a histogram of fixed size, filled between the
// row's two tick readings without allocating or printing, and its
// percentiles once the row is done.
//
// Times are in nanoseconds. Below 256 ns each value has a bucket of its own;
// above, each power of two is cut into 256 buckets of equal width, so that a
// bucket's midpoint is within 0.2 % of every value in it. Times below
// read_time_least_ns count in the bucket of read_time_least_ns, those above
// read_time_most_ns in the bucket of read_time_most_ns; the first, smallest
// and largest times are kept exactly beside the buckets.
#pragma once

#include <bit>
#include <cstdint>
#include <string>

constexpr uint64_t read_time_least_ns = 100;           // 100 ns
constexpr uint64_t read_time_most_ns = 100000000000u;  // 100 s

// The bucket that holds ns, not clamped: ns itself below 256, else 256 per
// power of two above.
constexpr int read_time_bucket(uint64_t ns) {
  int octave = ns < 256 ? 0 : (int)std::bit_width(ns) - 8;  // floor(log2(ns)) - 7 from 256 up
  return octave == 0 ? (int)ns : 256 * (octave - 1) + (int)(ns >> (octave - 1));
}

constexpr int read_time_buckets = read_time_bucket(read_time_most_ns) + 1;

struct read_times {
  uint64_t count;     // times added
  uint64_t first_ns;  // the first time added
  uint64_t min_ns;
  uint64_t max_ns;
  uint32_t buckets[read_time_buckets];
};

// Empties *times for a new row.
void start_read_times(read_times *times);

// Adds one read's time. Touches only *times.
void add_read_time(read_times *times, uint64_t ns);

// The percentile per_mille / 10 of the times added, in nanoseconds: of the
// smallest time with at least that share of all times at or below it (rank
// ceil(per_mille / 1000 × count), at least 1), the midpoint of its bucket,
// kept within the smallest and largest time. 0 when no time was added.
double read_time_percentile(const read_times *times, int per_mille);

// The row's times in microseconds with one decimal (halves rounded up):
// "first F, min M, p10 A, p25 B, p50 C, p75 D, p90 E, p99 G, p99.9 H, max X".
std::string describe_read_times(const read_times *times);
