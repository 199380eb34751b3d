#include "runs.h"

#include <algorithm>
#include <map>
#include <tuple>

#include "row_figures.h"
#include "stats.h"

bool is_same_drive(const report_drive *a, const report_drive *b) {
  return a->root == b->root && a->block_size == b->block_size && a->n_blocks == b->n_blocks &&
         a->device == b->device;
}

void group_runs(const std::vector<report_input> *inputs, std::vector<drive_group> *groups) {
  groups->clear();
  // A fleet's captures hold many drives: each is placed by a look-up, not by
  // a walk over the groups so far.
  std::map<std::tuple<std::string_view, int64_t, int64_t, std::string_view>, size_t> places;
  for (const report_input &input : *inputs)
    for (const report_drive &drive : input.drives) {
      auto [place, added] =
          places.try_emplace({drive.root, drive.block_size, drive.n_blocks, drive.device}, groups->size());
      if (added) groups->emplace_back();
      (*groups)[place->second].runs.push_back({&input, &drive});
    }
}

int count_namesakes(const std::vector<drive_group> *groups, const drive_group *group) {
  const report_drive *drive = group->runs[0].drive;
  int count = 0;
  for (const drive_group &other : *groups) {
    const report_drive *d = other.runs[0].drive;
    count += &other != group && d->root == drive->root && d->block_size == drive->block_size &&
             d->n_blocks == drive->n_blocks;
  }
  return count;
}

static void summarise(std::vector<double> values, double *median, double *min, double *max) {
  if (values.empty()) return;
  *median = median_of(values);
  *min = *std::min_element(values.begin(), values.end());
  *max = *std::max_element(values.begin(), values.end());
}

int pair_runs(const drive_group *group, bool random, std::vector<run_row> *rows, std::string *why,
              row_metric metric) {
  rows->clear();
  size_t longest = 0;
  for (const drive_run &run : group->runs)
    longest = std::max(longest, (random ? run.drive->random : run.drive->sequential).rows.size());
  for (size_t i = 0; i < longest; ++i) {
    run_row out = {};
    std::array<std::vector<double>, read_time_count> times;
    const report_row *first_seen = nullptr;
    size_t first_run = 0;
    for (size_t r = 0; r < group->runs.size(); ++r) {
      const report_drive *drive = group->runs[r].drive;
      const std::vector<report_row> &table = (random ? drive->random : drive->sequential).rows;
      if (i >= table.size()) continue;
      const report_row *row = &table[i];
      if (first_seen == nullptr) {
        first_seen = row, first_run = r;
      } else if (row->first != first_seen->first) {
        *why = std::string(random ? "random" : "sequential") + " row " + std::to_string(i + 1) +
               " does not pair: run " + std::to_string(first_run + 1) + " has " +
               std::to_string(first_seen->first) + (random ? " blocks of range" : " blocks per read") +
               ", run " + std::to_string(r + 1) + " has " + std::to_string(row->first);
        return -1;
      }
      row_figures f;
      derive_row(drive, row, random, &f);
      out.first = row->first;
      out.bytes_per_read = f.bytes_per_read;
      ++out.runs;
      out.mib_per_s.push_back(row->mib_per_s);
      double value = 0;
      if (row_value(drive, row, random, metric, &value)) out.us.push_back(value);
      out.coarse = out.coarse || f.coarse;
      out.failed_reads = out.failed_reads || row->failed_reads;
      if (row->timed) {
        ++out.timed_runs;
        for (int t = 0; t < read_time_count; ++t) times[t].push_back(row->read_us[t]);
      }
    }
    summarise(out.us, &out.median_us, &out.min_us, &out.max_us);
    for (int t = 0; t < read_time_count; ++t)
      summarise(times[t], &out.median_read_us[t], &out.min_read_us[t], &out.max_read_us[t]);
    summarise(out.mib_per_s, &out.median_mib_per_s, &out.min_mib_per_s, &out.max_mib_per_s);
    rows->push_back(std::move(out));
  }
  return 0;
}

double spread_pct(const run_row *row) {
  if (row->us.size() < 2 || !(row->median_us > 0)) return 0;
  return 100 * std::max(row->max_us - row->median_us, row->median_us - row->min_us) / row->median_us;
}

std::string describe_runs(const drive_group *group) {
  std::string text = std::to_string(group->runs.size()) + (group->runs.size() == 1 ? " run" : " runs");
  std::vector<std::pair<const report_input *, int>> inputs;
  for (const drive_run &run : group->runs) {
    if (inputs.empty() || inputs.back().first != run.input) inputs.push_back({run.input, 0});
    ++inputs.back().second;
  }
  if (inputs.size() < 2) return text;
  text += " (";
  for (size_t i = 0; i < inputs.size(); ++i)
    text += (i > 0 ? ", " : "") + inputs[i].first->name + ": " + std::to_string(inputs[i].second);
  return text + ")";
}

static void add_once(std::vector<std::string> *texts, const std::string &text) {
  if (!text.empty() && std::find(texts->begin(), texts->end(), text) == texts->end()) texts->push_back(text);
}

std::vector<std::string> group_devices(const drive_group *group) {
  std::vector<std::string> devices;
  for (const drive_run &run : group->runs) add_once(&devices, run.drive->device);
  return devices;
}

std::vector<std::string> group_warnings(const drive_group *group) {
  std::vector<std::string> warnings;
  for (const drive_run &run : group->runs)
    for (const std::string &warning : run.drive->warnings) add_once(&warnings, warning);
  return warnings;
}
