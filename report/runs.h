// Repeated runs of one drive, and their tables row by row.
//
// Drives with the same root, block size and block count, whose device lines
// (what blockmeter said it read: node, size, model, transport) are the same,
// are runs of one drive, wherever they come from: one input or several. The
// same root on two hosts, or an HDD and an SSD put at one node in turn, are
// two drives. Their rows pair by their place in each table (the N-th
// sequential step, the pass over the same range), not by their read counts,
// which adapt from run to run.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "report.h"
#include "row_figures.h"

struct drive_run {
  const report_input *input;
  const report_drive *drive;
};

struct drive_group {
  std::vector<drive_run> runs;  // in the order given; never empty
};

// Whether two drives are runs of one drive, as above.
bool is_same_drive(const report_drive *a, const report_drive *b);

// Groups the drives of every input, groups in the order their first run
// appears.
void group_runs(const std::vector<report_input> *inputs, std::vector<drive_group> *groups);

// How many groups other than group have its root, block size and block count
// but read another device: other drives behind the same name.
int count_namesakes(const std::vector<drive_group> *groups, const drive_group *group);

// One row of a table over the runs of a drive. Medians, smallest and largest
// are over the runs that measured the row; a single run's row is its own
// median, smallest and largest.
struct run_row {
  int64_t first;                     // blocks per read, or the range in blocks
  double bytes_per_read;             // a random read is one block
  int runs;                          // runs that have this row
  std::vector<double> us;            // the value of each run that has one (row_value of the metric paired by)
  std::vector<double> mib_per_s;     // the speed of each run that has the row, as printed
  double median_us, min_us, max_us;  // over us; 0 when it is empty
  double median_mib_per_s, min_mib_per_s, max_mib_per_s;
  bool coarse;        // some run measured it in under coarse_below_ms
  bool failed_reads;  // some run's reads failed or came back short there
  // The times of single reads (report.h: read_us) over the runs that printed
  // them: each time's median, smallest and largest; 0 where none did.
  int timed_runs;
  std::array<double, read_time_count> median_read_us, min_read_us, max_read_us;
};

// The rows of one table of the group's runs, paired by place: as many rows
// as the longest run has, each run's value of a row its metric's
// (row_value). Returns 0, or -1 with *why naming the run and the row when the
// runs disagree on a row's read size or range; rows then stops before that
// row.
int pair_runs(const drive_group *group, bool random, std::vector<run_row> *rows, std::string *why,
              row_metric metric = metric_mean);

// The spread of a row as a share of its median: the larger distance from the
// median to the smallest or the largest value, in per cent; 0 for one value.
double spread_pct(const run_row *row);

// "1 run", "5 runs (a.txt: 3, b.txt: 2)": the group's runs and where they are
// from, where more than one input holds them.
std::string describe_runs(const drive_group *group);

// What blockmeter said of the group's runs, each text once, in the order
// first said: the devices it read, and its warnings.
std::vector<std::string> group_devices(const drive_group *group);
std::vector<std::string> group_warnings(const drive_group *group);
