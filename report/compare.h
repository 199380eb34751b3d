// Comparing runs of one drive (the base) with runs of another, or of the same
// drive another time: row by row, the median over each side's runs of their
// time per read (or of a percentile of the times of their single reads), the
// change in per cent of the base's, and a rank test that tells a change from
// the noise of the runs.
#pragma once

#include <string>
#include <vector>

#include "report.h"
#include "runs.h"
#include "stats.h"

constexpr double default_alpha = 0.05;

// One side of a comparison: the runs of one drive, all from one input, each
// run's value of a row that of the metric compared (row_value).
struct compare_side {
  const report_input *input;
  row_metric metric;
  drive_group group;
  std::vector<run_row> sequential, random;
  int rows_without_value;  // rows of its runs that have no value of the metric: not compared for that run
};

// Takes every drive of input as a run of one drive, to be compared by
// metric. Returns 0, or -1 with *why when the input holds no runs, runs of
// more than one drive, runs whose rows do not pair, or no row with a value of
// the metric.
int make_compare_side(const report_input *input, compare_side *side, std::string *why,
                      row_metric metric = metric_mean);

enum compare_verdict { verdict_same, verdict_slower, verdict_faster };

// A row of each side with the same bytes: sequential rows pair by their bytes
// per read, random rows by their range in bytes, so that drives of other
// block sizes or sizes are compared read for read. A row whose bytes the
// other side has not is unpaired: listed, never compared.
struct compared_row {
  const run_row *base, *other;  // the row of each side; one of them null for an unpaired row
  double bytes;                 // what pairs them: bytes per read (sequential) or range in bytes (random)
  bool compared;                // both sides measured it: the numbers below are set
  double delta_pct;             // the other's median us per read less the base's, in % of the base's
  double p;                     // two-sided, of the rank test of the two sides' us per read
  int direction;                // the test's direction: 1 the other's times longer, -1 shorter, 0 neither
  compare_verdict verdict;      // slower or faster by direction where p < alpha, else the same
  bool medians_disagree;        // p < alpha, but the medians' change is not the test's way: the same
  bool too_few_runs;            // fewer runs measured the row (one cut short) than the test needs to reach
                                // alpha, though the sides' runs would be enough
  bool coarse;                  // some run of either side measured it in under coarse_below_ms
  bool failed_reads;            // some run of either side had reads fail there
};

struct compared_table {
  std::vector<compared_row> rows;     // every row of either side, paired where the other has its bytes,
                                      // in table order (sequential: bytes rising; random: falling)
  size_t base_rows, other_rows;       // the rows each side has
  int unpaired_base, unpaired_other;  // rows of each side with no partner
  int geomean_rows;                   // the paired rows of coarse_below_ms or more that every run of both
                                      // sides measured and no read failed in
  double geomean_ratio;               // the geometric mean of other / base medians over them; 0 with none
  // Whether the other's runs as a whole differ from the base's over those
  // rows: a permutation test of whole runs (stats.h), whose false alarms over
  // the table are alpha. Set where geomean_rows is above 0.
  permutation_test overall;
  compare_verdict overall_verdict;  // slower or faster by the statistic's sign where overall.p < alpha
};

// Compares one table of the two sides, row by row where their bytes match.
void compare_tables(const compare_side *base, const compare_side *other, bool random, double alpha,
                    compared_table *table);

struct comparison {
  const compare_side *base, *other;
  bool block_sizes_differ;  // the two drives read blocks of other sizes
  compared_table sequential, random;
  double smallest_p;     // the smallest p the test can give for the two sides' run counts, by the
                         // method it uses for them (smallest_rank_test_p)
  bool exact;            // that method is the exact count
  bool can_reach_alpha;  // smallest_p < alpha: a difference can show at all
};

void compare_sides(const compare_side *base, const compare_side *other, double alpha, comparison *result);

// The first input's runs against each other input's: a side per input
// (sides), then BASE with each NEW (comparisons, which point into sides).
// Returns 0, or -1 with (*whys)[i] saying why input i cannot be compared
// (empty for each that can); every input is tried.
int compare_inputs(const std::vector<report_input> *inputs, double alpha, std::vector<compare_side> *sides,
                   std::vector<comparison> *comparisons, std::vector<std::string> *whys,
                   row_metric metric = metric_mean);

// The block size of a side's drive.
int64_t side_block_size(const compare_side *side);

// "slower", "faster" or "~".
const char *verdict_name(compare_verdict verdict);
