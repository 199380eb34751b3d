#include "figures.h"

#include <cmath>

#include "link.h"
#include "stats.h"

constexpr double bytes_per_mib = 1024.0 * 1024.0;

static bool qualifies(const run_row *row) {
  return !row->us.empty() && (int)row->us.size() == row->runs && !row->coarse && !row->failed_reads;
}

static std::string too_few(int rows, const char *needed) {
  return "too few rows: " + std::to_string(rows) + " of " + std::to_string(coarse_below_ms) +
         " ms or more, " + needed + " needed";
}

static void derive_sequential(const std::vector<run_row> *rows, drive_figures *f) {
  std::vector<double> bytes, us;
  int64_t largest_tried = 0;
  for (const run_row &row : *rows) {
    largest_tried = std::max(largest_tried, row.first);
    if (!qualifies(&row)) continue;
    if (bytes.empty() || row.median_mib_per_s > f->peak_mib_per_s) {
      f->peak_mib_per_s = row.median_mib_per_s;
      f->peak_blocks_per_read = row.first;
    }
    if (bytes.empty() || row.bytes_per_read < f->smallest_read_bytes)
      f->smallest_read_bytes = row.bytes_per_read;
    if (bytes.empty() || row.bytes_per_read > f->largest_read_bytes)
      f->largest_read_bytes = row.bytes_per_read;
    bytes.push_back(row.bytes_per_read);
    us.push_back(row.median_us);
  }
  f->sequential_rows = (int)bytes.size();
  if (bytes.empty()) f->peak_note = too_few(0, "1");
  f->peak_is_largest_read = !bytes.empty() && f->peak_blocks_per_read == largest_tried;
  double a = 0, b = 0, r2 = 0;
  if (fit_line(bytes.data(), us.data(), (int)bytes.size(), &a, &b, &r2) != 0) {
    f->fit_note = too_few((int)bytes.size(), "2 read sizes");
  } else if (!(b > 0)) {
    f->fit_note = "no transfer rate: the time per read does not grow with the read size";
  } else {
    f->overhead_us = a;
    // b is microseconds per byte.
    f->transfer_mib_per_s = 1e6 / b / bytes_per_mib;
    f->fit_r2 = r2;
    f->fit_extrapolated =
        r2 < trusted_fit_r2 || f->transfer_mib_per_s > trusted_fit_over_fastest * f->peak_mib_per_s;
  }
}

static void derive_random(const std::vector<run_row> *rows, drive_figures *f) {
  const run_row *widest = nullptr, *narrowest = nullptr;
  for (const run_row &row : *rows) {
    if (!qualifies(&row)) continue;
    if (widest == nullptr || row.first > widest->first) widest = &row;
    if (narrowest == nullptr || row.first < narrowest->first) narrowest = &row;
    ++f->random_rows;
  }
  if (widest == nullptr) {
    f->ends_note = too_few(0, "1");
    f->seek_note = too_few(0, "2 ranges");
    return;
  }
  f->widest_range = widest->first, f->widest_us = widest->median_us;
  f->widest_min_us = widest->min_us, f->widest_max_us = widest->max_us;
  f->narrowest_range = narrowest->first, f->narrowest_us = narrowest->median_us;
  f->narrowest_min_us = narrowest->min_us, f->narrowest_max_us = narrowest->max_us;
  if (widest == narrowest) {
    f->seek_note = too_few(f->random_rows, "2 ranges");
    return;
  }
  f->seek_cost_us = f->widest_us - f->narrowest_us;
  // What the two ends differ by must stand out of what the runs, or the
  // tick and the disk's own moods in one run, make of one time.
  if (f->seek_cost_us <= 0)
    f->seek_note = "no cost measured: the widest range reads no slower than the narrowest";
  else if (f->runs > 1 && widest->min_us <= narrowest->max_us)
    f->seek_note = "no cost measured: the two ends' runs overlap";
  else if (f->runs <= 1 && f->seek_cost_us <= seek_noise_share * f->narrowest_us)
    f->seek_note = "no cost measured: the ends differ by " +
                   std::to_string((int)std::lround(seek_noise_share * 100)) +
                   " % or less of the narrowest's time";
}

void derive_figures(const std::vector<run_row> *sequential, const std::vector<run_row> *random, int runs,
                    drive_figures *figures) {
  *figures = drive_figures{};
  figures->runs = runs;
  derive_sequential(sequential, figures);
  derive_random(random, figures);
}

int derive_group(const drive_group *group, drive_figures *figures, std::string *why) {
  std::vector<run_row> sequential, random;
  std::string sequential_problem, random_problem;
  // Each table stands alone: runs whose one table does not pair still give
  // the other's figures, and the unpaired one gives none from a part of it.
  bool sequential_paired = pair_runs(group, false, &sequential, &sequential_problem) == 0;
  bool random_paired = pair_runs(group, true, &random, &random_problem) == 0;
  if (!sequential_paired) sequential.clear();
  if (!random_paired) random.clear();
  derive_figures(&sequential, &random, (int)group->runs.size(), figures);
  if (!sequential_paired) figures->peak_note = figures->fit_note = "the runs' sequential rows do not pair";
  if (!random_paired) figures->ends_note = figures->seek_note = "the runs' random rows do not pair";
  if (sequential_paired && random_paired) return 0;
  *why = sequential_problem + (sequential_paired || random_paired ? "" : "; ") + random_problem;
  return -1;
}

void derive_drive(const report_drive *drive, drive_figures *figures) {
  drive_group group = {{{nullptr, drive}}};
  std::string unused;
  derive_group(&group, figures, &unused);
}

// A table's rows as the device model reads them: each time a median over the runs.
static void model_rows(const drive_group *group, bool random, std::vector<model_row> *out) {
  std::vector<run_row> rows;
  std::string unpaired;
  // Rows past a run that does not pair are left out: they are not one row.
  pair_runs(group, random, &rows, &unpaired);
  for (size_t i = 0; i < rows.size(); ++i) {
    const run_row &row = rows[i];
    model_row m = {};
    m.bytes = random ? bytes_of_blocks(row.first, group->runs[0].drive->block_size) : row.bytes_per_read;
    m.us_per_read = row.median_us;
    m.mib_per_s = row.median_mib_per_s;
    m.trusted = qualifies(&row);
    std::vector<double> reads;
    for (const drive_run &run : group->runs) {
      const std::vector<report_row> &table = (random ? run.drive->random : run.drive->sequential).rows;
      if (i < table.size()) reads.push_back((double)table[i].reads);
    }
    m.reads = median_of(reads);
    // Times only where every run that has the row printed them.
    m.timed = row.timed_runs > 0 && row.timed_runs == row.runs;
    const std::array<double, read_time_count> &t = row.median_read_us;
    if (m.timed)
      m.times = {t[read_first], t[read_min], t[read_p10], t[read_p25],  t[read_p50],
                 t[read_p75],   t[read_p90], t[read_p99], t[read_p999], t[read_max]};
    out->push_back(m);
  }
}

void derive_device_model(const drive_group *group, device_model *model) {
  model_input input = {};
  model_rows(group, false, &input.sequential);
  model_rows(group, true, &input.random);
  std::vector<std::string> devices = group_devices(group);
  device_link link;
  std::string why;
  // A link bounds the reads of one device only: a volume over several may read faster.
  if (devices.size() == 1 && devices[0].find("; ") == std::string::npos &&
      find_link(devices[0], &link, &why) == 0) {
    input.link = link.name;
    input.link_bytes_per_s = link.bytes_per_second;
  }
  model_device(&input, model);
}
