#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "figures.h"
#include "output.h"

const text_symbols plain_symbols = {"us", "R^2", "+-"};
const text_symbols rich_symbols = {"\xc2\xb5s", "R\xc2\xb2", "\xc2\xb1"};

void drain_sink(report_sink *sink, bool all) {
  if (sink->file == nullptr || (!all && sink->text.size() < sink_drain_bytes)) return;
  if (sink->error == 0) {
    errno = 0;
    if (fwrite(sink->text.data(), 1, sink->text.size(), sink->file) != sink->text.size())
      sink->error = errno != 0 ? errno : EIO;
  }
  sink->text.clear();
}

static bool format_failed = false;

bool number_format_failed() { return format_failed; }

// printf into a string of the length it needs; a format that fails yields
// nothing and marks the report as failed.
static std::string format_number(const char *format, ...) {
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  int length = vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (length >= 0) {
    text.resize((size_t)length + 1);
    if (vsnprintf(text.data(), text.size(), format, again) != length) length = -1;
    text.resize(length >= 0 ? (size_t)length : 0);
  }
  va_end(again);
  if (length < 0) format_failed = true;
  return text;
}

std::string format_size(double bytes) {
  static const char *const units[] = {"B", "KiB", "MiB", "GiB"};
  int unit = 0;
  while (unit < 3 && bytes >= 1024) bytes /= 1024, ++unit;
  return format_number("%.4g %s", bytes, units[unit]);
}

std::string format_fixed(double value, int decimals) { return format_number("%.*f", decimals, value); }

// to_chars into a buffer; one it does not fit is no text but a failed report.
template <typename... Form>
static std::string chars_of(double value, Form... form) {
  // The fixed form of any double fits: at most 309 digits before the point,
  // and the least subnormal's shortest form is 326 characters long.
  char text[400];
  auto result = std::to_chars(text, text + sizeof text, value, form...);
  if (result.ec != std::errc()) {
    format_failed = true;
    return std::string();
  }
  return std::string(text, result.ptr);
}

std::string format_exact(double value) { return chars_of(value, std::chars_format::fixed); }

std::string format_shortest(double value) { return chars_of(value); }

std::string format_p(double p) { return p >= 0.001 || p == 0 ? format_fixed(p, 3) : format_number("%.3g", p); }

// The code point of the UTF-8 sequence at text[*at], advancing *at past it;
// -1 (advancing one byte) for a byte that starts no valid sequence.
static long decode_utf8(std::string_view text, size_t *at) {
  unsigned char lead = (unsigned char)text[*at];
  int length = lead < 0x80                   ? 1
               : lead >= 0xc2 && lead < 0xe0 ? 2
               : lead >= 0xe0 && lead < 0xf0 ? 3
               : lead >= 0xf0 && lead < 0xf5 ? 4
                                             : 0;
  if (length == 0 || *at + length > text.size()) return ++*at, -1;
  long code = length == 1 ? lead : lead & (0x3f >> (length - 1));
  for (int i = 1; i < length; ++i) {
    unsigned char next = (unsigned char)text[*at + i];
    if ((next & 0xc0) != 0x80) return ++*at, -1;
    code = code << 6 | (next & 0x3f);
  }
  // Overlong forms, surrogates and what lies past U+10FFFF are not UTF-8.
  static const long least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < least[length] || (code >= 0xd800 && code < 0xe000) || code > 0x10ffff) return ++*at, -1;
  *at += length;
  return code;
}

std::string escape_xml(std::string_view text) {
  std::string out;
  for (size_t at = 0; at < text.size();) {
    size_t start = at;
    long code = decode_utf8(text, &at);
    if (code < 0 || (code < 0x20 && code != '\t' && code != '\n') || code == 0xfffe || code == 0xffff)
      out += "\xef\xbf\xbd";
    else if (code == '&')
      out += "&amp;";
    else if (code == '<')
      out += "&lt;";
    else if (code == '>')
      out += "&gt;";
    else if (code == '"')
      out += "&quot;";
    else if (code == '\'')
      out += "&#39;";
    else
      out.append(text.substr(start, at - start));
  }
  return out;
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
  std::string runs = group->runs.size() > 1 ? describe_runs(group) : inputs->size() > 1 ? run->input->name : "";
  if (!runs.empty()) qualifiers += (qualifiers.empty() ? "" : "; ") + runs;
  return qualifiers.empty() ? drive->root : drive->root + " (" + qualifiers + ")";
}

void chart_drives(const std::vector<report_input> *inputs, const std::vector<drive_group> *groups,
                  std::vector<chart_drive> *drives) {
  for (const drive_group &group : *groups) drives->push_back({drive_label(inputs, groups, &group), &group});
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
  return "range " + format_size((double)row->first * (double)drive->block_size);
}

static void append_line(std::string *out, const std::string &text) { *out += text + "\n"; }

const char *const figure_labels[figure_count] = {"sequential peak", "overhead and transfer rate",
                                                 "widest random range", "narrowest random range",
                                                 "moving across the volume"};

void describe_figures(const report_drive *drive, const drive_figures *f, const text_symbols *symbols,
                      figure_texts *texts) {
  const std::string us = symbols->us;
  auto set = [&](int i, const std::string &note, const std::string &text) {
    texts->is_note[i] = !note.empty();
    texts->text[i] = note.empty() ? text : note;
  };
  auto size_of = [&](int64_t blocks) { return format_size((double)blocks * (double)drive->block_size); };
  std::string of_runs = f->runs > 1 ? "; medians of " + std::to_string(f->runs) + " runs" : "";
  std::string read_span = (f->smallest_read_bytes == f->largest_read_bytes
                               ? format_size(f->largest_read_bytes)
                               : format_size(f->smallest_read_bytes) + " to " + format_size(f->largest_read_bytes)) +
                          " per read";
  auto range_text = [&](int64_t range, double us_per_read, double min_us, double max_us, const char *end) {
    std::string spread = f->runs > 1 ? "; runs " + format_fixed(min_us, 1) + " to " + format_fixed(max_us, 1) : "";
    return format_fixed(us_per_read, 1) + " " + us + " per read over " + size_of(range) + " (" +
           count_of(range, "block") + "; " + end + " of " + count_of(f->random_rows, "row") + of_runs + spread +
           ")";
  };
  set(0, f->peak_note,
      format_fixed(f->peak_mib_per_s, 2) + " MiB/s at " + size_of(f->peak_blocks_per_read) + " per read (" +
          count_of(f->peak_blocks_per_read, "block") + "; best of " + count_of(f->sequential_rows, "row") + ", " +
          read_span + of_runs + ")" +
          (f->peak_is_largest_read ? "; the largest read tried: larger reads may be faster still" : ""));
  std::string r2 = std::string(symbols->r2) + " " + format_fixed(f->fit_r2, 3);
  std::string fit_basis = "fit over " + count_of(f->sequential_rows, "row") + ", " + read_span + of_runs;
  std::string fit = format_fixed(f->overhead_us, 1) + " " + us + " per read, plus its bytes at " +
                    format_fixed(f->transfer_mib_per_s, 2) + " MiB/s";
  if (!f->fit_extrapolated) {
    set(1, f->fit_note, fit + " (" + fit_basis + "; " + r2 + ")");
  } else {
    std::string why = f->fit_r2 < trusted_fit_r2
                          ? r2 + " is under " + format_fixed(trusted_fit_r2, 1)
                          : r2 + ", but over twice the fastest row's " + format_fixed(f->peak_mib_per_s, 2) + " MiB/s";
    set(1, f->fit_note,
        fit + ": an extrapolation beyond the reads measured, not the disk's speed (" + why + "; " + fit_basis + ")");
  }
  set(2, f->ends_note, range_text(f->widest_range, f->widest_us, f->widest_min_us, f->widest_max_us, "widest"));
  set(3, f->ends_note,
      range_text(f->narrowest_range, f->narrowest_us, f->narrowest_min_us, f->narrowest_max_us, "narrowest"));
  std::string ends = format_fixed(f->widest_us, 1) + " " + us + " over " + size_of(f->widest_range) +
                     " against " + format_fixed(f->narrowest_us, 1) + " " + us + " over " +
                     size_of(f->narrowest_range);
  bool ends_set = f->ends_note.empty() && f->widest_range != f->narrowest_range;
  set(4, ends_set ? "" : f->seek_note,
      f->seek_note.empty() ? format_fixed(f->seek_cost_us, 1) + " " + us + " per read (" + ends + ")"
                           : f->seek_note + " (" + ends + ")");
  if (ends_set && !f->seek_note.empty()) texts->is_note[4] = true;
}

// The rows of a drive with several runs, one line each: the median time per
// read with the smallest and the largest, the spread, the median speed.
static void write_run_rows(const drive_group *group, bool random, std::string *out) {
  std::vector<run_row> rows;
  std::string problem;
  pair_runs(group, random, &rows, &problem);
  std::vector<std::vector<std::string>> cells = {
      {"medians of the runs", "us/read", "smallest", "largest", "spread", "MiB/s", "runs", ""}};
  for (const run_row &row : rows) {
    std::string flags = std::string(row.coarse ? "coarse" : "") + (row.coarse && row.failed_reads ? " " : "") +
                        (row.failed_reads ? "failed-reads" : "");
    bool measured = !row.us.empty();
    cells.push_back({table_row_label(group->runs[0].drive, &row, random),
                     measured ? format_fixed(row.median_us, 1) : "-", measured ? format_fixed(row.min_us, 1) : "-",
                     measured ? format_fixed(row.max_us, 1) : "-",
                     measured ? "+-" + format_fixed(spread_pct(&row), 1) + "%" : "-",
                     format_fixed(row.median_mib_per_s, 2), std::to_string(row.runs), flags});
  }
  write_columns(&cells, "    ", out);
  if (!problem.empty()) append_line(out, "    " + problem);
}

static void write_drive_summary(const std::vector<drive_group> *groups, const drive_group *group,
                                std::string *out) {
  const report_drive *drive = group->runs[0].drive;
  if (group->runs.size() == 1)
    append_line(out, terminal_text(group->runs[0].input->name) + ": drive " + terminal_text(drive->root));
  else
    append_line(out, "drive " + terminal_text(drive->root) + ": " + terminal_text(describe_runs(group)));
  double bytes = (double)drive->block_size * (double)drive->n_blocks;
  append_line(out, "  block size " + std::to_string(drive->block_size) + " B, " +
                       count_of(drive->n_blocks, "block") + ", " + format_fixed(bytes / (1 << 30), 4) +
                       " GiB (" + format_size(bytes) + ")");
  for (const std::string &device : group_devices(group)) append_line(out, "  device: " + terminal_text(device));
  for (const std::string &warning : group_warnings(group)) append_line(out, "  warning: " + terminal_text(warning));
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
  if (cut_short > 0) append_line(out, one ? "  cut short: " + why : "  cut short: " + count_of(cut_short, "run"));
  if (failed > 0) append_line(out, "  rows with failed or short reads: " + std::to_string(failed));

  drive_figures f;
  std::string problem;
  if (!derive_group(group, &f, &problem)) append_line(out, "  runs that do not pair: " + problem);
  figure_texts texts;
  describe_figures(drive, &f, &plain_symbols, &texts);
  std::string qualify = " of " + std::to_string(coarse_below_ms) + " ms or more" + (one ? "" : " in every run");
  size_t sequential_rows = 0, random_rows = 0;
  for (const drive_run &run : group->runs) {
    sequential_rows = std::max(sequential_rows, run.drive->sequential.rows.size());
    random_rows = std::max(random_rows, run.drive->random.rows.size());
  }
  append_line(out, "  sequential: " + count_of((int64_t)sequential_rows, "row") + ", " +
                       std::to_string(f.sequential_rows) + qualify);
  if (!one) write_run_rows(group, false, out);
  for (int i = 0; i < figure_count; ++i) {
    if (i == 2) {
      append_line(out, "  random: " + count_of((int64_t)random_rows, "row") + ", " + std::to_string(f.random_rows) +
                           qualify);
      if (!one) write_run_rows(group, true, out);
    }
    append_line(out, std::string("    ") + figure_labels[i] + ": " + texts.text[i]);
  }
}

void write_summary(const std::vector<report_input> *inputs, report_sink *out) {
  std::vector<drive_group> groups;
  group_runs(inputs, &groups);
  bool first = true;
  for (const drive_group &group : groups) {
    if (!first) out->text += "\n";
    first = false;
    write_drive_summary(&groups, &group, &out->text);
    drain_sink(out, false);
  }
}
