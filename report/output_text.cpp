// The summary: per drive its geometry, what blockmeter said of it, its rows
// over several runs, and its figures in words.
#include <algorithm>

#include "flags.h"
#include "numbers.h"
#include "output.h"
#include "terminal_text.h"
#include "time_figures.h"
#include "wording.h"

static void append_line(std::string *out, const std::string &text) { *out += text + "\n"; }

// The rows of a drive with several runs, one line each: the median time per
// read with the smallest and the largest, the spread, the median speed.
static void write_run_rows(const drive_group *group, bool random, std::string *out) {
  std::vector<run_row> rows;
  std::string problem;
  pair_runs(group, random, &rows, &problem);
  std::vector<std::vector<std::string>> cells = {
      {"medians of the runs", "us/read", "smallest", "largest", "spread", "MiB/s", "runs", ""}};
  // Where blockmeter printed read times, their median and p99 join, before
  // the flags.
  bool timed = std::any_of(rows.begin(), rows.end(), [](const run_row &row) { return row.timed_runs > 0; });
  if (timed) cells[0].insert(cells[0].end() - 1, {"p50 us", "p99 us"});
  for (const run_row &row : rows) {
    std::string flags = flag_text(row_flags(row.coarse, row.failed_reads));
    bool measured = !row.us.empty();
    cells.push_back(
        {table_row_label(group->runs[0].drive, &row, random), measured ? format_fixed(row.median_us, 1) : "-",
         measured ? format_fixed(row.min_us, 1) : "-", measured ? format_fixed(row.max_us, 1) : "-",
         measured ? "+-" + format_fixed(spread_pct(&row), 1) + "%" : "-",
         format_fixed(row.median_mib_per_s, 2), std::to_string(row.runs), flags});
    if (timed)
      for (int t : {read_p50, read_p99})
        cells.back().insert(cells.back().end() - 1,
                            row.timed_runs > 0 ? format_fixed(row.median_read_us[t], 1) : std::string("-"));
  }
  write_columns(&cells, "    ", out);
  if (!problem.empty()) append_line(out, "    " + problem);
}

// What the rows say of the device, a line per figure ("  behaves like: rotating (...)").
static void write_device_model(const drive_group *group, std::string *out) {
  device_model model;
  derive_device_model(group, &model);
  std::vector<model_line> lines;
  describe_device_model(&model, &lines);
  for (const model_line &line : lines)
    append_line(out, "  " + terminal_text(std::string(line.label) + ": " + line.text));
}

static void write_drive_summary(const std::vector<drive_group> *groups, const drive_group *group,
                                std::string *out) {
  const report_drive *drive = group->runs[0].drive;
  if (group->runs.size() == 1)
    append_line(out, terminal_text(group->runs[0].input->name) + ": drive " + terminal_text(drive->root));
  else
    append_line(out, "drive " + terminal_text(drive->root) + ": " + terminal_text(describe_runs(group)));
  append_line(out, "  " + geometry_text(drive));
  for (const std::string &device : group_devices(group))
    append_line(out, "  device: " + terminal_text(device));
  for (const std::string &warning : group_warnings(group))
    append_line(out, "  warning: " + terminal_text(warning));
  if (int namesakes = count_namesakes(groups, group))
    append_line(out, "  this root and size name " + std::to_string(namesakes + 1) +
                         " drives: the runs that read another device are another drive, shown apart");
  std::string why;
  int failed = 0, not_opened = 0, cut_short = 0;
  for (const drive_run &run : group->runs) {
    not_opened += run.drive->not_opened;
    cut_short += is_cut_short(run.drive, &why);
    for (const report_table *table : {&run.drive->sequential, &run.drive->random})
      for (const report_row &row : table->rows) failed += row.failed_reads;
  }
  bool one = group->runs.size() == 1;
  if (not_opened > 0)
    append_line(out, one ? "  blockmeter could not open it: no tables"
                         : "  blockmeter could not open it in " + count_of(not_opened, "run"));
  if (cut_short > 0)
    append_line(out, one ? "  cut short: " + why : "  cut short: " + count_of(cut_short, "run"));
  if (failed > 0) append_line(out, "  rows with failed or short reads: " + std::to_string(failed));

  drive_figures f;
  std::string problem;
  if (derive_group(group, &f, &problem) != 0) append_line(out, "  runs that do not pair: " + problem);
  std::vector<figure_text> texts;
  describe_figures(drive, &f, &plain_symbols, &texts);
  describe_read_times(group, &plain_symbols, &texts);
  std::string qualify =
      " of " + std::to_string(coarse_below_ms) + " ms or more" + (one ? "" : " in every run");
  size_t sequential_rows = 0, random_rows = 0;
  for (const drive_run &run : group->runs) {
    sequential_rows = std::max(sequential_rows, run.drive->sequential.rows.size());
    random_rows = std::max(random_rows, run.drive->random.rows.size());
  }
  for (bool random : {false, true}) {
    append_line(out, std::string(random ? "  random: " : "  sequential: ") +
                         count_of((int64_t)(random ? random_rows : sequential_rows), "row") + ", " +
                         std::to_string(random ? f.random_rows : f.sequential_rows) + qualify);
    if (!one) write_run_rows(group, random, out);
    for (const figure_text &figure : texts)
      if (figure.random == random) append_line(out, std::string("    ") + figure.label + ": " + figure.text);
  }
  write_device_model(group, out);
}

int write_summary(const std::vector<report_input> *inputs, report_sink *out, std::string *why) {
  std::vector<drive_group> groups;
  group_runs(inputs, &groups);
  bool first = true;
  for (const drive_group &group : groups) {
    if (!first) out->text += "\n";
    first = false;
    write_drive_summary(&groups, &group, &out->text);
    if (drain_sink(out, false, why) != 0) return -1;
  }
  return 0;
}
