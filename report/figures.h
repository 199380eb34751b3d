// The figures a drive's rows imply: per drive, the sequential peak, a straight-line fit of time per read
// against bytes per read, and what moving across the volume costs a random read. A drive measured several
// times has its figures from the medians of its runs, row by row (runs.h).
#pragma once

#include <string>
#include <vector>

#include "device_model.h"
#include "report.h"
#include "row_figures.h"
#include "runs.h"

// A fitted transfer rate is the disk's only where the line fits the rows
// this well, and no further above the fastest row measured than this.
constexpr double trusted_fit_r2 = 0.9;
constexpr double trusted_fit_over_fastest = 2;

// One run's difference between the widest and the narrowest range is a cost
// of moving only when it is over this share of the narrowest range's time.
constexpr double seek_noise_share = 0.1;

// The figures of one drive. Only rows that qualify count: rows measured in
// coarse_below_ms or more in every run, whose reads did not fail. Each figure
// holds a number, or a note saying why there is none (too few rows qualify,
// say).
struct drive_figures {
  int runs;                                        // the runs whose medians the figures come from
  int sequential_rows;                             // sequential rows that qualify
  int random_rows;                                 // random rows that qualify
  double smallest_read_bytes, largest_read_bytes;  // the qualifying sequential rows' span

  std::string peak_note;  // empty when the peak is set
  double peak_mib_per_s;  // the fastest qualifying sequential row
  int64_t peak_blocks_per_read;
  bool peak_is_largest_read;  // the peak is at the largest read size tried: the curve may rise on

  std::string fit_note;       // empty when the fit is set
  double overhead_us;         // us per read = overhead_us + bytes / rate, least squares
  double transfer_mib_per_s;  // over the qualifying sequential rows
  double fit_r2;              // the fit's coefficient of determination
  bool fit_extrapolated;      // r2 under trusted_fit_r2, or the rate over trusted_fit_over_fastest
                              // times the peak: a rate beyond the reads measured, not the disk's

  std::string ends_note;  // empty when the widest and narrowest range are set
  int64_t widest_range;   // in blocks
  double widest_us;       // us per read over it (a median over runs)
  double widest_min_us, widest_max_us;
  int64_t narrowest_range;
  double narrowest_us;
  double narrowest_min_us, narrowest_max_us;

  std::string seek_note;  // empty when seek_cost_us is a cost measured
  double seek_cost_us;    // widest_us - narrowest_us, also when it is no cost (seek_note says why)
};

// The figures of one run of a drive.
void derive_drive(const report_drive *drive, drive_figures *figures);

// The figures of a drive from its tables' rows over its runs (pair_runs).
void derive_figures(const std::vector<run_row> *sequential, const std::vector<run_row> *random, int runs,
                    drive_figures *figures);

// The figures of a group of runs, from the medians of its rows. Returns 0, or
// -1 with *why when the runs of a table do not pair (pair_runs); that
// table's figures are then notes saying so, and the other's are whole.
int derive_group(const drive_group *group, drive_figures *figures, std::string *why);

// What the group's rows say of the device behind them (device_model.h): each
// row as the median over the runs that measured it, the read times as the
// medians of each time over runs that all printed them, and the device's
// link where blockmeter named one device with a link it knows.
void derive_device_model(const drive_group *group, device_model *model);
