#include <nlohmann/json.hpp>

#include "figures.h"
#include "output.h"

using json = nlohmann::ordered_json;

// Blocks times the block size: exact while it fits in 64 bits, which a real
// drive's range always does; a larger one (only garbage) as a double.
static json bytes_of(int64_t blocks, int64_t block_size) {
  if (blocks <= INT64_MAX / block_size) return blocks * block_size;
  return (double)blocks * (double)block_size;
}

static json note_or_null(const std::string &note) { return note.empty() ? json(nullptr) : json(note); }

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
  json flags = json::array();
  if (f.coarse) flags.push_back("coarse");
  if (row->failed_reads) flags.push_back("failed-reads");
  out["flags"] = flags;
  return out;
}

static json range_json(const report_drive *drive, int64_t range, double us) {
  return {{"range_blocks", range}, {"range_bytes", bytes_of(range, drive->block_size)}, {"us_per_read", us}};
}

static json figures_json(const report_drive *drive) {
  drive_figures f;
  derive_drive(drive, &f);
  json sequential, random;
  sequential["rows"] = f.sequential_rows;
  sequential["peak"] = nullptr;
  if (f.peak_note.empty())
    sequential["peak"] = {{"mib_per_s", f.peak_mib_per_s},
                          {"blocks_per_read", f.peak_blocks_per_read},
                          {"bytes_per_read", bytes_of(f.peak_blocks_per_read, drive->block_size)}};
  sequential["peak_note"] = note_or_null(f.peak_note);
  sequential["fit"] = nullptr;
  if (f.fit_note.empty())
    sequential["fit"] = {{"overhead_us", f.overhead_us}, {"transfer_mib_per_s", f.transfer_mib_per_s}};
  sequential["fit_note"] = note_or_null(f.fit_note);

  random["rows"] = f.random_rows;
  random["widest"] = f.ends_note.empty() ? range_json(drive, f.widest_range, f.widest_us) : json(nullptr);
  random["narrowest"] =
      f.ends_note.empty() ? range_json(drive, f.narrowest_range, f.narrowest_us) : json(nullptr);
  random["ends_note"] = note_or_null(f.ends_note);
  random["seek_cost_us"] = f.seek_note.empty() ? json(f.seek_cost_us) : json(nullptr);
  random["seek_note"] = note_or_null(f.seek_note);
  return {{"sequential", sequential}, {"random", random}};
}

static json drive_json(const report_drive *drive) {
  json out;
  out["root"] = drive->root;
  out["block_size"] = drive->block_size;
  out["n_blocks"] = drive->n_blocks;
  out["size_bytes"] = bytes_of(drive->n_blocks, drive->block_size);
  out["opened"] = !drive->not_opened;
  std::string why;
  out["cut_short"] = is_cut_short(drive, &why) ? json(why) : json(nullptr);
  for (bool random : {false, true}) {
    json rows = json::array();
    for (const report_row &row : (random ? drive->random : drive->sequential).rows)
      rows.push_back(row_json(drive, &row, random));
    out[random ? "random" : "sequential"] = rows;
  }
  out["figures"] = figures_json(drive);
  return out;
}

void write_json(const std::vector<report_input> *inputs, std::string *out) {
  json files = json::array();
  for (const report_input &input : *inputs) {
    json drives = json::array();
    for (const report_drive &drive : input.drives) drives.push_back(drive_json(&drive));
    files.push_back({{"file", input.name}, {"drives", drives}});
  }
  json document = {{"generator", "blockmeter-report " BLOCKMETER_VERSION},
                   {"coarse_below_ms", coarse_below_ms},
                   {"files", files}};
  *out += document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}
