// What one row of one run says by itself: the size and time of one read, and
// the flags that say how far to trust it. Below the runs (runs.h), which
// take each run's value of a row from here, and the drive's figures
// (figures.h), which take their rows from the runs.
#pragma once

#include <string_view>

#include "flags.h"
#include "report.h"

// blockmeter's tick is 1 ms: below this a row's time is off by over 1 %.
constexpr int coarse_below_ms = 100;

struct row_figures {
  double bytes_per_read;  // the read size; a random read is one block
  bool measured;          // the row made reads in a measurable time; else the two below are unset
  double us_per_read;     // microseconds per read: ms * 1000 / reads
  double iops;            // reads per second
  bool coarse;            // measured in under coarse_below_ms
  unsigned flags;         // flag_coarse, flag_failed_reads (flags.h), or none
};

// blocks of block_size, in bytes: as a double, exact below 2^53, and never
// overflowing on what an input claims.
double bytes_of_blocks(int64_t blocks, int64_t block_size);

// Derives a row's figures; random says which table it is from.
void derive_row(const report_drive *drive, const report_row *row, bool random, row_figures *figures);

// What runs of a row are told by: the mean time of its reads (its time over
// its reads, the microseconds per read), or the median or the 99th
// percentile of the times of its reads, as blockmeter printed them.
enum row_metric { metric_mean, metric_p50, metric_p99 };

// "mean", "p50" or "p99".
const char *metric_name(row_metric metric);

// The metric name names ("mean", "p50", "p99"). Returns 0, or -1 for any
// other name, *metric then as it was.
int find_metric(std::string_view name, row_metric *metric);

// The value of metric runs of a row are told by: their medians are taken of
// it and the comparison tests it. Returns false, leaving *value as it was,
// for a row without one: no reads measured (the mean), or no read times
// printed (p50, p99).
bool row_value(const report_drive *drive, const report_row *row, bool random, row_metric metric,
               double *value);
