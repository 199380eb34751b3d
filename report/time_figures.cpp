#include "time_figures.h"

#include <cmath>

#include "numbers.h"
#include "row_figures.h"

const char *const read_time_keys[read_time_count] = {"first", "min", "p10", "p25",  "p50",
                                                     "p75",   "p90", "p99", "p999", "max"};

bool is_slow_first_read(const report_row *row) {
  double first = row->read_us[read_first];
  return row->timed && first > slow_first_read_us && first > slow_first_read_ratio * row->read_us[read_p50];
}

void derive_table_times(const drive_group *group, const std::vector<run_row> *rows, bool random,
                        table_times *times) {
  *times = table_times{};
  for (size_t i = 0; i < rows->size(); ++i) {
    const run_row &row = (*rows)[i];
    if (row.timed_runs == 0) continue;
    if (times->timed_rows++ == 0) times->low_end = times->high_end = i;
    if (row.first < (*rows)[times->low_end].first) times->low_end = i;
    if (row.first > (*rows)[times->high_end].first) times->high_end = i;
    double p50 = row.median_read_us[read_p50], ratio = row.median_read_us[read_p99] / p50;
    if (p50 > 0 && (!times->tail_set || ratio > times->tail_ratio)) {
      times->tail_set = true;
      times->longest_tail = i, times->tail_ratio = ratio;
    }
  }
  // A first read is its own run's: the medians over runs would hide it.
  for (size_t r = 0; r < group->runs.size(); ++r) {
    const std::vector<report_row> &table =
        (random ? group->runs[r].drive->random : group->runs[r].drive->sequential).rows;
    for (size_t i = 0; i < table.size(); ++i) {
      if (!is_slow_first_read(&table[i])) continue;
      double ratio = table[i].read_us[read_first] / table[i].read_us[read_p50];
      if (times->slow_first_reads++ == 0 || ratio > times->slow_ratio)
        times->slow_run = r, times->slow_row = i, times->slow_ratio = ratio;
    }
  }
}

std::string read_time_text(double us, const text_symbols *symbols) {
  if (us < 1000) return format_fixed(us, 1) + " " + symbols->us;
  bool seconds = us >= 1e6;
  double value = seconds ? us / 1e6 : us / 1000;
  return format_fixed(value, value < 10 ? 2 : value < 100 ? 1 : 0) + (seconds ? " s" : " ms");
}

std::string ratio_text(double ratio) {
  if (ratio < 100) return format_fixed(ratio, ratio < 20 ? 1 : 0);
  double unit = std::pow(10.0, std::floor(std::log10(ratio)) - 1);
  std::string digits = format_fixed(std::round(ratio / unit) * unit, 0), text;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
    text += digits[i];
  }
  return text;
}

// "1 block, 512 B per read" or "range 2 MiB, 4096 blocks": a row named by
// what it read.
static std::string row_words(const report_drive *drive, int64_t first, bool random) {
  if (random)
    return "range " + format_size(bytes_of_blocks(first, drive->block_size)) + ", " +
           count_of(first, "block");
  return count_of(first, "block") + ", " + format_size(bytes_of_blocks(first, drive->block_size)) +
         " per read";
}

static void describe_table(const drive_group *group, bool random, const text_symbols *symbols,
                           std::vector<figure_text> *texts) {
  const report_drive *drive = group->runs[0].drive;
  std::vector<run_row> rows;
  std::string problem;
  // Runs that do not pair have no rows in common to take medians of; their
  // first reads are still each run's own.
  if (pair_runs(group, random, &rows, &problem) != 0) rows.clear();
  table_times t;
  derive_table_times(group, &rows, random, &t);
  auto add = [&](const char *label, const std::string &text) {
    texts->push_back({label, random, false, text});
  };
  auto basis = [&](const run_row *row, const std::string &which) {
    return "; " + which + " of " + count_of(t.timed_rows, "row") + " with read times" +
           (group->runs.size() > 1 ? "; medians of " + count_of(row->timed_runs, "run") : "");
  };
  auto end = [&](const char *label, size_t at, const char *which) {
    const run_row *row = &rows[at];
    add(label, "median " + read_time_text(row->median_read_us[read_p50], symbols) + ", p99 " +
                   read_time_text(row->median_read_us[read_p99], symbols) + " (" +
                   row_words(drive, row->first, random) + basis(row, which) + ")");
  };
  if (t.timed_rows > 0) {
    end(random ? "read time, widest range" : "read time, smallest reads", random ? t.high_end : t.low_end,
        random ? "widest" : "smallest");
    if (t.low_end != t.high_end)
      end(random ? "read time, narrowest range" : "read time, largest reads", random ? t.low_end : t.high_end,
          random ? "narrowest" : "largest");
  }
  if (t.tail_set) {
    const run_row *row = &rows[t.longest_tail];
    add("longest tail", "p99 " + read_time_text(row->median_read_us[read_p99], symbols) + ", " +
                            ratio_text(t.tail_ratio) + " times the median " +
                            read_time_text(row->median_read_us[read_p50], symbols) + " (" +
                            row_words(drive, row->first, random) + basis(row, "the largest p99/p50") + ")");
  }
  if (t.slow_first_reads > 0) {
    const drive_run *run = &group->runs[t.slow_run];
    const report_row *row = &(random ? run->drive->random : run->drive->sequential).rows[t.slow_row];
    // The run by its place alone: the figures carry no outside text.
    std::string of_run = group->runs.size() > 1 ? "run " + std::to_string(t.slow_run + 1) + " of " +
                                                      std::to_string(group->runs.size()) + ": "
                                                : "";
    std::string more =
        t.slow_first_reads > 1 ? "; " + count_of(t.slow_first_reads - 1, "more row") + " alike" : "";
    double p50 = row->read_us[read_p50];
    std::string against = p50 > 0 ? ratio_text(t.slow_ratio) + " times its row's median"
                                  : "against its row's median of " + read_time_text(p50, symbols);
    add("slow first read", "the first read took " + read_time_text(row->read_us[read_first], symbols) + ", " +
                               against + ": the device may have been idle or asleep (" + of_run +
                               row_words(drive, row->first, random) + more + ")");
  }
}

void describe_read_times(const drive_group *group, const text_symbols *symbols,
                         std::vector<figure_text> *texts) {
  for (bool random : {false, true}) describe_table(group, random, symbols, texts);
}
