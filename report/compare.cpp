#include "compare.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "row_figures.h"
#include "stats.h"

// "d with 16 blocks of 512 B", and what it read where blockmeter said.
static std::string name_drive(const report_drive *drive) {
  return drive->root + " with " + std::to_string(drive->n_blocks) + " blocks of " +
         std::to_string(drive->block_size) + " B" +
         (drive->device.empty() ? "" : ", reading " + drive->device);
}

int make_compare_side(const report_input *input, compare_side *side, std::string *why, row_metric metric) {
  side->input = input;
  side->metric = metric;
  side->group = drive_group{};
  for (const report_drive &drive : input->drives) {
    const report_drive *first = side->group.runs.empty() ? nullptr : side->group.runs[0].drive;
    if (first != nullptr && !is_same_drive(first, &drive)) {
      *why = "holds runs of more than one drive (" + name_drive(first) + ", and " + name_drive(&drive) +
             "); compare one drive's runs per file";
      return -1;
    }
    side->group.runs.push_back({input, &drive});
  }
  if (side->group.runs.empty()) {
    *why = "holds no runs";
    return -1;
  }
  std::string unpaired;
  if (pair_runs(&side->group, false, &side->sequential, &unpaired, metric) != 0 ||
      pair_runs(&side->group, true, &side->random, &unpaired, metric) != 0) {
    *why = "its runs do not pair: " + unpaired;
    return -1;
  }
  bool measured = false;
  side->rows_without_value = 0;
  for (const std::vector<run_row> *table : {&side->sequential, &side->random})
    for (const run_row &row : *table) {
      measured = measured || !row.us.empty();
      side->rows_without_value += row.runs - (int)row.us.size();
    }
  if (!measured) {
    *why = metric == metric_mean ? "holds no rows with reads measured"
                                 : std::string("holds no read times to compare by ") + metric_name(metric) +
                                       " (blockmeter printed none: compare by the mean)";
    return -1;
  }
  return 0;
}

// A sampled permutation test draws its splits from this, so that one input
// gives one report.
constexpr uint64_t permutation_seed = 0x626c6f636b6d6574ull;

int64_t side_block_size(const compare_side *side) { return side->group.runs[0].drive->block_size; }

// What pairs a row with the other side's: the bytes of one read, or of the
// range read across.
static double row_bytes(const compare_side *side, const run_row *row, bool random) {
  return random ? bytes_of_blocks(row->first, side_block_size(side)) : row->bytes_per_read;
}

// Each side's rows by their bytes, merged in table order; a row of one side
// takes the first row of the other with the same bytes not yet taken.
static void pair_rows(const compare_side *base, const compare_side *other, bool random,
                      std::vector<compared_row> *rows) {
  const std::vector<run_row> &base_rows = random ? base->random : base->sequential;
  const std::vector<run_row> &other_rows = random ? other->random : other->sequential;
  std::multimap<double, const run_row *> unmatched;
  for (const run_row &row : other_rows) unmatched.emplace(row_bytes(other, &row, random), &row);
  for (const run_row &row : base_rows) {
    compared_row pair = {};
    pair.base = &row;
    pair.bytes = row_bytes(base, &row, random);
    auto match = unmatched.find(pair.bytes);
    if (match != unmatched.end()) {
      pair.other = match->second;
      unmatched.erase(match);
    }
    rows->push_back(pair);
  }
  for (const run_row &row : other_rows) {
    double bytes = row_bytes(other, &row, random);
    auto [first, last] = unmatched.equal_range(bytes);
    for (auto at = first; at != last; ++at)
      if (at->second == &row) {
        compared_row pair = {};
        pair.other = &row;
        pair.bytes = bytes;
        rows->push_back(pair);
        break;
      }
  }
  // Tables run from the smallest read up, and from the widest range down.
  std::stable_sort(rows->begin(), rows->end(), [random](const compared_row &a, const compared_row &b) {
    return random ? a.bytes > b.bytes : a.bytes < b.bytes;
  });
}

void compare_tables(const compare_side *base, const compare_side *other, bool random, double alpha,
                    compared_table *table) {
  *table = compared_table{};
  table->base_rows = (random ? base->random : base->sequential).size();
  table->other_rows = (random ? other->random : other->sequential).size();
  pair_rows(base, other, random, &table->rows);
  int base_runs = (int)base->group.runs.size(), other_runs = (int)other->group.runs.size();
  bool sides_reach = smallest_rank_test_p(base_runs, other_runs) < alpha;
  double log_sum = 0;
  std::vector<const compared_row *> geomean_rows;
  for (compared_row &row : table->rows) {
    if (row.base == nullptr || row.other == nullptr) {
      ++(row.base == nullptr ? table->unpaired_other : table->unpaired_base);
      continue;
    }
    row.coarse = row.base->coarse || row.other->coarse;
    row.failed_reads = row.base->failed_reads || row.other->failed_reads;
    row.compared = !row.base->us.empty() && !row.other->us.empty() && row.base->median_us > 0;
    if (row.compared) {
      row.delta_pct = (row.other->median_us - row.base->median_us) / row.base->median_us * 100;
      int na = (int)row.base->us.size(), nb = (int)row.other->us.size();
      rank_test test;
      test_ranks(row.base->us.data(), na, row.other->us.data(), nb, &test);
      row.p = test.p;
      row.direction = rank_test_direction(&test, na, nb);
      row.too_few_runs = sides_reach && !(smallest_rank_test_p(na, nb) < alpha);
      // The medians can point the other way from the ranks (two modes, say):
      // a verdict the reader would take from the delta must not contradict it.
      int delta_direction = row.delta_pct > 0 ? 1 : row.delta_pct < 0 ? -1 : 0;
      if (row.p < alpha && row.direction != 0) {
        if (delta_direction == row.direction)
          row.verdict = row.direction > 0 ? verdict_slower : verdict_faster;
        else
          row.medians_disagree = true;
      }
      // Every run's value, so that the runs can be shuffled as wholes.
      bool whole = (int)row.base->us.size() == base_runs && (int)row.other->us.size() == other_runs;
      if (whole && !row.coarse && !row.failed_reads && row.other->median_us > 0) {
        log_sum += std::log(row.other->median_us / row.base->median_us);
        ++table->geomean_rows;
        geomean_rows.push_back(&row);
      }
    }
  }
  if (table->geomean_rows == 0) return;
  table->geomean_ratio = std::exp(log_sum / table->geomean_rows);
  // Run-major: each run's values over the rows, the base's runs first.
  int rows = table->geomean_rows;
  std::vector<double> values((size_t)(base_runs + other_runs) * rows);
  for (int r = 0; r < rows; ++r) {
    for (int run = 0; run < base_runs; ++run) values[(size_t)run * rows + r] = geomean_rows[r]->base->us[run];
    for (int run = 0; run < other_runs; ++run)
      values[(size_t)(base_runs + run) * rows + r] = geomean_rows[r]->other->us[run];
  }
  test_permutations(values.data(), base_runs, other_runs, rows, permutation_seed, &table->overall);
  if (table->overall.p < alpha && table->overall.statistic != 0)
    table->overall_verdict = table->overall.statistic > 0 ? verdict_slower : verdict_faster;
}

void compare_sides(const compare_side *base, const compare_side *other, double alpha, comparison *result) {
  result->base = base, result->other = other;
  result->block_sizes_differ = side_block_size(base) != side_block_size(other);
  compare_tables(base, other, false, alpha, &result->sequential);
  compare_tables(base, other, true, alpha, &result->random);
  int base_runs = (int)base->group.runs.size(), other_runs = (int)other->group.runs.size();
  result->smallest_p = smallest_rank_test_p(base_runs, other_runs);
  result->exact = rank_test_is_exact(base_runs, other_runs);
  result->can_reach_alpha = result->smallest_p < alpha;
}

int compare_inputs(const std::vector<report_input> *inputs, double alpha, std::vector<compare_side> *sides,
                   std::vector<comparison> *comparisons, std::vector<std::string> *whys, row_metric metric) {
  sides->assign(inputs->size(), compare_side{});
  whys->assign(inputs->size(), std::string());
  int status = 0;
  for (size_t i = 0; i < inputs->size(); ++i)
    if (make_compare_side(&(*inputs)[i], &(*sides)[i], &(*whys)[i], metric) != 0) status = -1;
  comparisons->clear();
  if (status != 0) return -1;
  comparisons->resize(sides->size() - 1);
  for (size_t i = 1; i < sides->size(); ++i)
    compare_sides(&(*sides)[0], &(*sides)[i], alpha, &(*comparisons)[i - 1]);
  return 0;
}

const char *verdict_name(compare_verdict verdict) {
  return verdict == verdict_slower ? "slower" : verdict == verdict_faster ? "faster" : "~";
}
