#include "read_times.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "blockmeter_format.h"

void start_read_times(read_times *times) { memset(times, 0, sizeof *times); }

void add_read_time(read_times *times, uint64_t ns) {
  if (times->count == 0) times->first_ns = times->min_ns = times->max_ns = ns;
  if (ns < times->min_ns) times->min_ns = ns;
  if (ns > times->max_ns) times->max_ns = ns;
  ++times->count;
  uint64_t kept = ns < read_time_least_ns  ? read_time_least_ns
                  : ns > read_time_most_ns ? read_time_most_ns
                                           : ns;
  ++times->buckets[read_time_bucket(kept)];
}

// The middle of the whole nanoseconds a bucket holds: a bucket of width 1 is
// its one value.
static double bucket_midpoint(int bucket) {
  if (bucket < 512) return bucket;
  int octave = bucket / 256;  // the bucket's values are 2^(octave + 7) and up
  uint64_t width = (uint64_t)1 << (octave - 1);
  uint64_t low = (uint64_t)(bucket - 256 * (octave - 1)) << (octave - 1);
  return (double)low + (double)(width - 1) / 2;
}

double read_time_percentile(const read_times *times, int per_mille) {
  if (times->count == 0) return 0;
  // In integers: as a double, 99.9 % of 1000 would come out a hair above 999.
  uint64_t rank = ((uint64_t)per_mille * times->count + 999) / 1000;
  if (rank < 1) rank = 1;
  uint64_t seen = 0;
  int bucket = 0;
  while (bucket < read_time_buckets - 1 && (seen += times->buckets[bucket]) < rank) ++bucket;
  double ns = bucket_midpoint(bucket);
  if (ns < (double)times->min_ns) return (double)times->min_ns;
  if (ns > (double)times->max_ns) return (double)times->max_ns;
  return ns;
}

// Tenths of a microsecond, halves up, from whole numbers: printf would round
// a half to even, and the midpoints of narrow buckets end in halves.
static void append_us(std::string *text, const char *name, double ns) {
  char number[64];
  unsigned long long tenths = (unsigned long long)std::floor(ns / 100 + 0.5);
  int length = snprintf(number, sizeof number, "%s%s %llu.%llu", text->empty() ? "" : ", ", name, tenths / 10,
                        tenths % 10);
  text->append(number, (size_t)length);
}

std::string describe_read_times(const read_times *times) {
  // In the order and with the labels the report reads them by; the ones
  // between the first two and the last are percentiles.
  std::string text;
  append_us(&text, read_time_labels[0], (double)times->first_ns);
  append_us(&text, read_time_labels[1], (double)times->min_ns);
  for (int i = 2; i + 1 < read_time_count; ++i)
    append_us(&text, read_time_labels[i],
              read_time_percentile(times, (int)std::lround(read_time_percents[i] * 10)));
  append_us(&text, read_time_labels[read_time_count - 1], (double)times->max_ns);
  return text;
}
