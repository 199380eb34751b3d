// The figures a drive's rows imply: per row, the size and time of one read;
// per drive, the sequential peak, a straight-line fit of time per read against
// bytes per read, and what moving across the volume costs a random read.
#pragma once

#include <string>

#include "report.h"

// blockmeter's tick is 1 ms: below this a row's time is off by over 1 %.
constexpr int coarse_below_ms = 100;

struct row_figures {
  double bytes_per_read;  // the read size; a random read is one block
  bool measured;          // the row made reads in a measurable time; else the two below are unset
  double us_per_read;     // microseconds per read: ms * 1000 / reads
  double iops;            // reads per second
  bool coarse;            // measured in under coarse_below_ms
  std::string flags;      // "coarse", "failed-reads", or both separated by a blank; may be empty
};

// Derives a row's figures; random says which table it is from.
void derive_row(const report_drive *drive, const report_row *row, bool random, row_figures *figures);

// The figures of one drive. Only rows that qualify count: rows measured over
// coarse_below_ms or more whose reads did not fail. Each figure holds a
// number, or a note saying why there is none (too few rows qualify, say).
struct drive_figures {
  int sequential_rows;  // sequential rows that qualify
  int random_rows;      // random rows that qualify

  std::string peak_note;  // empty when the peak is set
  double peak_mib_per_s;  // the fastest qualifying sequential row
  int64_t peak_blocks_per_read;

  std::string fit_note;       // empty when the fit is set
  double overhead_us;         // us per read = overhead_us + bytes / rate, least squares
  double transfer_mib_per_s;  // over the qualifying sequential rows

  std::string ends_note;  // empty when the widest and narrowest range are set
  int64_t widest_range;   // in blocks
  double widest_us;       // us per read over it
  int64_t narrowest_range;
  double narrowest_us;

  std::string seek_note;  // empty when seek_cost_us is set
  double seek_cost_us;    // widest_us - narrowest_us: the two ranges differ
};

void derive_drive(const report_drive *drive, drive_figures *figures);

// A least-squares line y = a + b * x through n points. Returns false, leaving
// *a and *b untouched, when fewer than two distinct x values are given.
bool fit_line(const double *x, const double *y, int n, double *a, double *b);
