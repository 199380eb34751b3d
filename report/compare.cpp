#include "compare.h"

#include <cmath>

#include "stats.h"

bool make_compare_side(const report_input *input, compare_side *side, std::string *problem) {
  side->input = input;
  side->group = drive_group{};
  for (const report_drive &drive : input->drives) {
    const report_drive *first = side->group.runs.empty() ? nullptr : side->group.runs[0].drive;
    if (first != nullptr &&
        (first->root != drive.root || first->block_size != drive.block_size || first->n_blocks != drive.n_blocks)) {
      *problem = "holds runs of more than one drive (" + first->root + " with " + std::to_string(first->n_blocks) +
                 " blocks of " + std::to_string(first->block_size) + " B, and " + drive.root + " with " +
                 std::to_string(drive.n_blocks) + " blocks of " + std::to_string(drive.block_size) +
                 " B); compare one drive's runs per file";
      return false;
    }
    side->group.runs.push_back({input, &drive});
  }
  if (side->group.runs.empty()) {
    *problem = "holds no runs";
    return false;
  }
  std::string unpaired;
  if (!pair_runs(&side->group, false, &side->sequential, &unpaired) ||
      !pair_runs(&side->group, true, &side->random, &unpaired)) {
    *problem = "its runs do not pair: " + unpaired;
    return false;
  }
  bool measured = false;
  for (const std::vector<run_row> *table : {&side->sequential, &side->random})
    for (const run_row &row : *table) measured = measured || !row.us.empty();
  if (!measured) {
    *problem = "holds no rows with reads measured";
    return false;
  }
  return true;
}

void compare_tables(const std::vector<run_row> *base, const std::vector<run_row> *other, double alpha,
                    compared_table *table) {
  *table = compared_table{};
  table->base_rows = base->size(), table->other_rows = other->size();
  double log_sum = 0;
  for (size_t i = 0; i < base->size() && i < other->size(); ++i) {
    compared_row row = {};
    row.base = &(*base)[i], row.other = &(*other)[i];
    row.coarse = row.base->coarse || row.other->coarse;
    row.failed_reads = row.base->failed_reads || row.other->failed_reads;
    row.compared = !row.base->us.empty() && !row.other->us.empty() && row.base->median_us > 0;
    if (row.compared) {
      row.delta_pct = (row.other->median_us - row.base->median_us) / row.base->median_us * 100;
      row.p = rank_test_p(row.base->us.data(), (int)row.base->us.size(), row.other->us.data(),
                          (int)row.other->us.size());
      if (row.p < alpha && row.delta_pct != 0) row.verdict = row.delta_pct > 0 ? verdict_slower : verdict_faster;
      bool whole = (int)row.base->us.size() == row.base->runs && (int)row.other->us.size() == row.other->runs;
      if (whole && !row.coarse && !row.failed_reads && row.other->median_us > 0) {
        log_sum += std::log(row.other->median_us / row.base->median_us);
        ++table->geomean_rows;
      }
    }
    table->rows.push_back(row);
  }
  if (table->geomean_rows > 0) table->geomean_ratio = std::exp(log_sum / table->geomean_rows);
}

void compare_sides(const compare_side *base, const compare_side *other, double alpha, comparison *result) {
  result->base = base, result->other = other;
  compare_tables(&base->sequential, &other->sequential, alpha, &result->sequential);
  compare_tables(&base->random, &other->random, alpha, &result->random);
  result->smallest_p = smallest_rank_test_p((int)base->group.runs.size(), (int)other->group.runs.size());
  result->can_reach_alpha = result->smallest_p < alpha;
}

const char *verdict_name(compare_verdict verdict) {
  return verdict == verdict_slower ? "slower" : verdict == verdict_faster ? "faster" : "~";
}
