#include <charconv>
#include <cstdio>

#include "figures.h"
#include "output.h"

std::string format_size(double bytes) {
  static const char *const units[] = {"B", "KiB", "MiB", "GiB"};
  int unit = 0;
  while (unit < 3 && bytes >= 1024) bytes /= 1024, ++unit;
  char text[64];
  snprintf(text, sizeof text, "%.4g %s", bytes, units[unit]);
  return text;
}

std::string format_fixed(double value, int decimals) {
  char text[512];
  snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string format_exact(double value) {
  char text[64];
  auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
  return std::string(text, result.ptr);
}

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

std::string plain_text(std::string_view text) {
  std::string out(text);
  for (char &c : out)
    if ((unsigned char)c < 0x20 && c != '\t')
      c = '?';
    else if (c == 0x7f)
      c = '?';
  return out;
}

std::string drive_label(const std::vector<report_input> *inputs, const report_input *input,
                        const report_drive *drive) {
  return inputs->size() > 1 ? drive->root + " (" + input->name + ")" : drive->root;
}

std::string count_of(int64_t count, const char *thing) {
  return std::to_string(count) + " " + thing + (count == 1 ? "" : "s");
}

static void append_line(std::string *out, const std::string &text) { *out += text + "\n"; }

const char *const figure_labels[figure_count] = {"sequential peak", "overhead and transfer rate",
                                                 "widest random range", "narrowest random range",
                                                 "moving across the volume"};

void describe_figures(const report_drive *drive, const drive_figures *f, const char *us,
                      figure_texts *texts) {
  auto set = [&](int i, const std::string &note, const std::string &text) {
    texts->is_note[i] = !note.empty();
    texts->text[i] = note.empty() ? text : note;
  };
  auto range_text = [&](int64_t range, double us_per_read, const char *end) {
    return format_fixed(us_per_read, 1) + " " + us + " per read over " +
           format_size((double)range * (double)drive->block_size) + " (" + count_of(range, "block") + "; " +
           end + " of " + count_of(f->random_rows, "row") + ")";
  };
  set(0, f->peak_note,
      format_fixed(f->peak_mib_per_s, 2) + " MiB/s at " +
          format_size((double)f->peak_blocks_per_read * (double)drive->block_size) + " per read (" +
          count_of(f->peak_blocks_per_read, "block") + "; best of " + count_of(f->sequential_rows, "row") +
          ")");
  set(1, f->fit_note,
      format_fixed(f->overhead_us, 1) + " " + us + " per read, plus its bytes at " +
          format_fixed(f->transfer_mib_per_s, 2) + " MiB/s (fit over " + count_of(f->sequential_rows, "row") +
          ")");
  set(2, f->ends_note, range_text(f->widest_range, f->widest_us, "widest"));
  set(3, f->ends_note, range_text(f->narrowest_range, f->narrowest_us, "narrowest"));
  set(4, f->seek_note,
      format_fixed(f->seek_cost_us, 1) + " " + us + " per read (widest less narrowest: 2 rows)");
}

static void write_drive_summary(const report_input *input, const report_drive *drive, std::string *out) {
  append_line(out, plain_text(input->name) + ": drive " + plain_text(drive->root));
  double bytes = (double)drive->block_size * (double)drive->n_blocks;
  append_line(out, "  block size " + std::to_string(drive->block_size) + " B, " +
                       count_of(drive->n_blocks, "block") + ", " + format_fixed(bytes / (1 << 30), 4) +
                       " GiB (" + format_size(bytes) + ")");
  std::string why;
  if (drive->not_opened) append_line(out, "  blockmeter could not open it: no tables");
  if (is_cut_short(drive, &why)) append_line(out, "  cut short: " + why);
  int failed = 0;
  for (const report_table *table : {&drive->sequential, &drive->random})
    for (const report_row &row : table->rows) failed += row.failed_reads;
  if (failed > 0) append_line(out, "  rows with failed or short reads: " + std::to_string(failed));

  drive_figures f;
  derive_drive(drive, &f);
  figure_texts texts;
  describe_figures(drive, &f, "us", &texts);
  std::string qualify = " of " + std::to_string(coarse_below_ms) + " ms or more";
  append_line(out, "  sequential: " + count_of((int64_t)drive->sequential.rows.size(), "row") + ", " +
                       std::to_string(f.sequential_rows) + qualify);
  for (int i = 0; i < figure_count; ++i) {
    if (i == 2)
      append_line(out, "  random: " + count_of((int64_t)drive->random.rows.size(), "row") + ", " +
                           std::to_string(f.random_rows) + qualify);
    append_line(out, std::string("    ") + figure_labels[i] + ": " + texts.text[i]);
  }
}

void write_summary(const std::vector<report_input> *inputs, std::string *out) {
  bool first = true;
  for (const report_input &input : *inputs)
    for (const report_drive &drive : input.drives) {
      if (!first) *out += "\n";
      first = false;
      write_drive_summary(&input, &drive, out);
    }
}
