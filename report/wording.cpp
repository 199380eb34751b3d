#include "wording.h"

#include "numbers.h"

const text_symbols plain_symbols = {"us", "R^2", "+-"};
const text_symbols rich_symbols = {"\xc2\xb5s", "R\xc2\xb2", "\xc2\xb1"};

std::string geometry_text(const report_drive *drive) {
  double bytes = bytes_of_blocks(drive->n_blocks, drive->block_size);
  return "block size " + std::to_string(drive->block_size) + " B, " + count_of(drive->n_blocks, "block") +
         ", " + format_fixed(bytes / (1 << 30), 4) + " GiB (" + format_size(bytes) + ")";
}

std::string drive_label(const std::vector<report_input> *inputs, const std::vector<drive_group> *groups,
                        const drive_group *group) {
  const drive_run *run = &group->runs[0];
  const report_drive *drive = run->drive;
  std::string qualifiers;
  // One root at two sizes (a file grown between runs, a device replaced) is
  // two lines that the legend must tell apart.
  for (const drive_group &other : *groups) {
    const report_drive *d = other.runs[0].drive;
    if (d->root == drive->root && (d->block_size != drive->block_size || d->n_blocks != drive->n_blocks)) {
      qualifiers = format_size((double)drive->n_blocks * (double)drive->block_size) + " of " +
                   format_size((double)drive->block_size) + " blocks";
      break;
    }
  }
  std::string runs = group->runs.size() > 1 ? describe_runs(group)
                     : inputs->size() > 1   ? run->input->name
                                            : "";
  if (!runs.empty()) qualifiers += (qualifiers.empty() ? "" : "; ") + runs;
  return qualifiers.empty() ? drive->root : drive->root + " (" + qualifiers + ")";
}

std::string count_of(int64_t count, const char *thing) {
  return std::to_string(count) + " " + thing + (count == 1 ? "" : "s");
}

std::string median_text(const run_row *row, const text_symbols *symbols) {
  if (row->us.empty()) return "-";
  std::string text = format_fixed(row->median_us, 1);
  if (row->us.size() > 1) text += " " + std::string(symbols->pm) + format_fixed(spread_pct(row), 0) + "%";
  return text;
}

void write_columns(const std::vector<std::vector<std::string>> *rows, const char *indent, std::string *out) {
  std::vector<size_t> widths;
  for (const auto &row : *rows)
    for (size_t i = 0; i + 1 < row.size(); ++i) {
      if (widths.size() <= i) widths.push_back(0);
      widths[i] = std::max(widths[i], row[i].size());
    }
  for (const auto &row : *rows) {
    std::string line = indent;
    for (size_t i = 0; i < row.size(); ++i) {
      if (i + 1 == row.size()) {
        if (!row[i].empty()) line += "  " + row[i];
        break;
      }
      std::string pad(widths[i] - row[i].size(), ' ');
      line += i == 0 ? row[i] + pad : "  " + pad + row[i];
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    *out += line + "\n";
  }
}

std::string table_row_label(const report_drive *drive, const run_row *row, bool random) {
  if (!random) return count_of(row->first, "block") + " (" + format_size(row->bytes_per_read) + ")";
  return "range " + format_size(bytes_of_blocks(row->first, drive->block_size));
}

void describe_figures(const report_drive *drive, const drive_figures *f, const text_symbols *symbols,
                      std::vector<figure_text> *texts) {
  texts->clear();
  const std::string us = symbols->us;
  auto set = [&](const char *label, bool random, const std::string &note, const std::string &text) {
    texts->push_back({label, random, !note.empty(), note.empty() ? text : note});
  };
  auto size_of = [&](int64_t blocks) { return format_size(bytes_of_blocks(blocks, drive->block_size)); };
  std::string of_runs = f->runs > 1 ? "; medians of " + std::to_string(f->runs) + " runs" : "";
  std::string read_span =
      (f->smallest_read_bytes == f->largest_read_bytes
           ? format_size(f->largest_read_bytes)
           : format_size(f->smallest_read_bytes) + " to " + format_size(f->largest_read_bytes)) +
      " per read";
  auto range_text = [&](int64_t range, double us_per_read, double min_us, double max_us, const char *end) {
    std::string spread =
        f->runs > 1 ? "; runs " + format_fixed(min_us, 1) + " to " + format_fixed(max_us, 1) : "";
    return format_fixed(us_per_read, 1) + " " + us + " per read over " + size_of(range) + " (" +
           count_of(range, "block") + "; " + end + " of " + count_of(f->random_rows, "row") + of_runs +
           spread + ")";
  };
  set("sequential peak", false, f->peak_note,
      format_fixed(f->peak_mib_per_s, 2) + " MiB/s at " + size_of(f->peak_blocks_per_read) + " per read (" +
          count_of(f->peak_blocks_per_read, "block") + "; best of " + count_of(f->sequential_rows, "row") +
          ", " + read_span + of_runs + ")" +
          (f->peak_is_largest_read ? "; the largest read tried: larger reads may be faster still" : ""));
  std::string r2 = std::string(symbols->r2) + " " + format_fixed(f->fit_r2, 3);
  std::string fit_basis = "fit over " + count_of(f->sequential_rows, "row") + ", " + read_span + of_runs;
  std::string fit = format_fixed(f->overhead_us, 1) + " " + us + " per read, plus its bytes at " +
                    format_fixed(f->transfer_mib_per_s, 2) + " MiB/s";
  if (!f->fit_extrapolated) {
    set("overhead and transfer rate", false, f->fit_note, fit + " (" + fit_basis + "; " + r2 + ")");
  } else {
    std::string why = f->fit_r2 < trusted_fit_r2 ? r2 + " is under " + format_fixed(trusted_fit_r2, 1)
                                                 : r2 + ", but over twice the fastest row's " +
                                                       format_fixed(f->peak_mib_per_s, 2) + " MiB/s";
    set("overhead and transfer rate", false, f->fit_note,
        fit + ": an extrapolation beyond the reads measured, not the disk's speed (" + why + "; " +
            fit_basis + ")");
  }
  set("widest random range", true, f->ends_note,
      range_text(f->widest_range, f->widest_us, f->widest_min_us, f->widest_max_us, "widest"));
  set("narrowest random range", true, f->ends_note,
      range_text(f->narrowest_range, f->narrowest_us, f->narrowest_min_us, f->narrowest_max_us, "narrowest"));
  std::string ends = format_fixed(f->widest_us, 1) + " " + us + " over " + size_of(f->widest_range) +
                     " against " + format_fixed(f->narrowest_us, 1) + " " + us + " over " +
                     size_of(f->narrowest_range);
  bool ends_set = f->ends_note.empty() && f->widest_range != f->narrowest_range;
  set("moving across the volume", true, ends_set ? "" : f->seek_note,
      f->seek_note.empty() ? format_fixed(f->seek_cost_us, 1) + " " + us + " per read (" + ends + ")"
                           : f->seek_note + " (" + ends + ")");
  // Both ends measured, but their difference is no cost: the text is a note.
  if (ends_set && !f->seek_note.empty()) texts->back().is_note = true;
}
