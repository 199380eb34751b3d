#include <nlohmann/json.hpp>

#include "figures.h"
#include "flags.h"
#include "output.h"
#include "row_figures.h"
#include "time_figures.h"

using json = nlohmann::ordered_json;

// Blocks times the block size: exact while it fits in 64 bits, which a real
// drive's range always does; a larger one (only garbage) as a double.
static json bytes_of(int64_t blocks, int64_t block_size) {
  if (blocks <= INT64_MAX / block_size) return blocks * block_size;
  return (double)blocks * (double)block_size;
}

static json note_or_null(const std::string &note) { return note.empty() ? json(nullptr) : json(note); }

static json flags_of(bool coarse, bool failed_reads) { return flag_words(row_flags(coarse, failed_reads)); }

// The times of single reads by their names; a row without them has none.
static json read_times_json(const std::array<double, read_time_count> *us) {
  json out = json::object();
  for (int t = 0; t < read_time_count; ++t) out[read_time_keys[t]] = (*us)[t];
  return out;
}

static json row_json(const report_drive *drive, const report_row *row, bool random) {
  row_figures f;
  derive_row(drive, row, random, &f);
  json out;
  if (random) {
    out["range_blocks"] = row->first;
    out["range_bytes"] = bytes_of(row->first, drive->block_size);
  }
  out["blocks_per_read"] = random ? 1 : row->first;
  out["bytes_per_read"] = bytes_of(random ? 1 : row->first, drive->block_size);
  out["reads"] = row->reads;
  out["ms"] = row->ms;
  out["mib_per_s"] = row->mib_per_s;
  out["us_per_read"] = f.measured ? json(f.us_per_read) : json(nullptr);
  out["iops"] = f.measured ? json(f.iops) : json(nullptr);
  out["flags"] = flags_of(f.coarse, row->failed_reads);
  if (row->timed) out["read_us"] = read_times_json(&row->read_us);
  return out;
}

static json range_json(const report_drive *drive, int64_t range, double us, double min_us, double max_us,
                       int runs) {
  json out = {
      {"range_blocks", range}, {"range_bytes", bytes_of(range, drive->block_size)}, {"us_per_read", us}};
  if (runs > 1) out["min_us"] = min_us, out["max_us"] = max_us;
  return out;
}

static json figures_json(const report_drive *drive, const drive_figures *f) {
  json sequential, random;
  sequential["rows"] = f->sequential_rows;
  if (f->sequential_rows > 0)
    sequential["bytes_per_read_span"] = {f->smallest_read_bytes, f->largest_read_bytes};
  sequential["peak"] = nullptr;
  if (f->peak_note.empty())
    sequential["peak"] = {{"mib_per_s", f->peak_mib_per_s},
                          {"blocks_per_read", f->peak_blocks_per_read},
                          {"bytes_per_read", bytes_of(f->peak_blocks_per_read, drive->block_size)},
                          {"largest_read_tried", f->peak_is_largest_read}};
  sequential["peak_note"] = note_or_null(f->peak_note);
  sequential["fit"] = nullptr;
  if (f->fit_note.empty())
    sequential["fit"] = {{"overhead_us", f->overhead_us},
                         {"transfer_mib_per_s", f->transfer_mib_per_s},
                         {"r2", f->fit_r2},
                         {"extrapolated", f->fit_extrapolated}};
  sequential["fit_note"] = note_or_null(f->fit_note);

  random["rows"] = f->random_rows;
  bool ends = f->ends_note.empty();
  random["widest"] =
      ends ? range_json(drive, f->widest_range, f->widest_us, f->widest_min_us, f->widest_max_us, f->runs)
           : json(nullptr);
  random["narrowest"] = ends ? range_json(drive, f->narrowest_range, f->narrowest_us, f->narrowest_min_us,
                                          f->narrowest_max_us, f->runs)
                             : json(nullptr);
  random["ends_note"] = note_or_null(f->ends_note);
  random["seek_cost_us"] = f->seek_note.empty() ? json(f->seek_cost_us) : json(nullptr);
  random["seek_note"] = note_or_null(f->seek_note);
  json out = {{"sequential", sequential}, {"random", random}};
  if (f->runs > 1) out["runs"] = f->runs;
  return out;
}

static json number_or_null(bool set, double value) { return set ? json(value) : json(nullptr); }

// What the rows say of the device: the class and what it rests on, and the
// figures of its kind, each null where there is none, with the note why.
static json device_model_json(const drive_group *group) {
  device_model m;
  derive_device_model(group, &m);
  std::vector<model_line> lines;
  describe_device_model(&m, &lines);
  json out;
  out["behaves_like"] = kind_name(m.kind);
  out["basis"] = m.basis;
  bool rotating = m.kind == kind_rotating;
  json rotation = nullptr;
  if (rotating)
    rotation = {{"rpm", m.shown_rpm},
                {"measured_rpm", m.measured_rpm},
                {"rounded_to_usual", m.rpm_rounded},
                {"turn_ms", m.turn_ms},
                {"turn_from", m.turn_whole ? "whole turns" : "spread"},
                {"rows", m.turn_rows},
                {"range_bytes", {m.turn_from_bytes, m.turn_to_bytes}},
                {"reads", m.turn_reads}};
  out["rotation"] = rotation;
  out["average_access_ms"] = number_or_null(rotating, m.access_ms);
  out["access_range_bytes"] = number_or_null(rotating, m.access_range_bytes);
  out["average_seek_ms"] = number_or_null(rotating && m.seek_note.empty(), m.seek_ms);
  out["seek_note"] = rotating && !m.seek_note.empty() ? json(m.seek_note) : json(nullptr);
  out["overhead_ms"] = number_or_null(rotating, m.overhead_ms);
  out["track_buffer"] = !rotating                   ? json(nullptr)
                        : m.buffer == buffer_serves ? json("serves")
                        : m.buffer == buffer_none   ? json("none")
                                                    : json("not told");
  out["track_buffer_note"] = rotating ? json(m.buffer_text) : json(nullptr);
  json limit = nullptr;
  if (m.limit_reads_per_s > 0) limit = {{"reads_per_s", m.limit_reads_per_s}};
  if (m.limit_mib_per_s > 0) limit = {{"mib_per_s", m.limit_mib_per_s}};
  out["limit"] = limit;
  json link = nullptr;
  if (!m.link.empty())
    link = {{"name", m.link}, {"mib_per_s", m.link_mib_per_s}, {"peak_over_link", m.peak_over_link}};
  out["link"] = link;
  json texts = json::object();
  for (const model_line &line : lines) texts[line.label] = line.text;
  out["lines"] = texts;
  return out;
}

static json drive_json(const report_drive *drive) {
  json out;
  out["root"] = drive->root;
  out["device"] = drive->device.empty() ? json(nullptr) : json(drive->device);
  out["block_size"] = drive->block_size;
  out["n_blocks"] = drive->n_blocks;
  out["size_bytes"] = bytes_of(drive->n_blocks, drive->block_size);
  out["opened"] = !drive->not_opened;
  out["warnings"] = drive->warnings;
  std::string why;
  out["cut_short"] = is_cut_short(drive, &why) ? json(why) : json(nullptr);
  for (bool random : {false, true}) {
    json rows = json::array();
    for (const report_row &row : (random ? drive->random : drive->sequential).rows)
      rows.push_back(row_json(drive, &row, random));
    out[random ? "random" : "sequential"] = rows;
  }
  drive_figures f;
  derive_drive(drive, &f);
  out["figures"] = figures_json(drive, &f);
  drive_group alone = {{{nullptr, drive}}};
  out["device_model"] = device_model_json(&alone);
  return out;
}

static json run_row_json(const report_drive *drive, const run_row *row, bool random) {
  json out;
  if (random) {
    out["range_blocks"] = row->first;
    out["range_bytes"] = bytes_of(row->first, drive->block_size);
  }
  out["blocks_per_read"] = random ? 1 : row->first;
  out["runs"] = row->runs;
  bool measured = !row->us.empty();
  out["us_per_read"] = measured ? json(row->median_us) : json(nullptr);
  out["min_us"] = measured ? json(row->min_us) : json(nullptr);
  out["max_us"] = measured ? json(row->max_us) : json(nullptr);
  out["spread_pct"] = measured ? json(spread_pct(row)) : json(nullptr);
  out["mib_per_s"] = row->median_mib_per_s;
  out["min_mib_per_s"] = row->min_mib_per_s;
  out["max_mib_per_s"] = row->max_mib_per_s;
  out["flags"] = flags_of(row->coarse, row->failed_reads);
  if (row->timed_runs > 0) {
    out["read_us"] = read_times_json(&row->median_read_us);
    out["read_us_runs"] = row->timed_runs;
  }
  return out;
}

// Each run named by its input and its place among that input's drives.
static json group_json(const std::vector<report_input> *inputs, const drive_group *group) {
  const report_drive *drive = group->runs[0].drive;
  json out;
  out["root"] = drive->root;
  out["block_size"] = drive->block_size;
  out["n_blocks"] = drive->n_blocks;
  json runs = json::array();
  for (const drive_run &run : group->runs)
    runs.push_back({{"file", run.input->name},
                    {"file_index", run.input - inputs->data()},
                    {"drive_index", run.drive - run.input->drives.data()}});
  out["runs"] = runs;
  std::string problem;
  for (bool random : {false, true}) {
    std::vector<run_row> rows;
    pair_runs(group, random, &rows, &problem);
    json table = json::array();
    for (const run_row &row : rows) table.push_back(run_row_json(drive, &row, random));
    out[random ? "random" : "sequential"] = table;
  }
  out["unpaired"] = note_or_null(problem);
  drive_figures f;
  derive_group(group, &f, &problem);
  out["figures"] = figures_json(drive, &f);
  out["device_model"] = device_model_json(group);
  return out;
}

// A value of the document, indented to sit at depth levels.
static void append_value(const json &value, int depth, std::string *out) {
  std::string text = value.dump(2, ' ', false, json::error_handler_t::replace);
  std::string indent = "\n" + std::string(2 * depth, ' ');
  out->reserve(out->size() + text.size() + text.size() / 8);
  for (char c : text)
    if (c == '\n')
      *out += indent;
    else
      *out += c;
}

// The document is made a drive at a time, so that a long capture needs the
// memory of one drive's part of it, not of the whole.
int write_json(const std::vector<report_input> *inputs, report_sink *out, std::string *why) {
  std::string *text = &out->text;
  *text += "{\n  \"generator\": \"blockmeter-report " BLOCKMETER_VERSION "\",\n  \"coarse_below_ms\": " +
           std::to_string(coarse_below_ms) + ",\n  \"files\": [";
  for (size_t i = 0; i < inputs->size(); ++i) {
    const report_input &input = (*inputs)[i];
    *text += std::string(i > 0 ? "," : "") + "\n    {\n      \"file\": ";
    append_value(json(input.name), 3, text);
    *text += ",\n      \"drives\": [";
    for (size_t j = 0; j < input.drives.size(); ++j) {
      *text += std::string(j > 0 ? "," : "") + "\n        ";
      append_value(drive_json(&input.drives[j]), 4, text);
      if (drain_sink(out, false, why) != 0) return -1;
    }
    *text += input.drives.empty() ? "]\n    }" : "\n      ]\n    }";
  }
  *text += inputs->empty() ? "],\n  \"repeated_drives\": [" : "\n  ],\n  \"repeated_drives\": [";
  std::vector<drive_group> groups;
  group_runs(inputs, &groups);
  bool any = false;
  for (const drive_group &group : groups) {
    if (group.runs.size() < 2) continue;
    *text += std::string(any ? "," : "") + "\n    ";
    append_value(group_json(inputs, &group), 2, text);
    any = true;
    if (drain_sink(out, false, why) != 0) return -1;
  }
  *text += any ? "\n  ]\n}\n" : "]\n}\n";
  return 0;
}
