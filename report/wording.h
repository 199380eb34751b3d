// The report's words, as every form says them: sizes, counts, a drive's
// geometry and name, a row's name and median, the figures of a drive in
// words, and columns of text. Numbers go through numbers.h; outside text is
// escaped by each form where it leaves (escape.h, terminal_text.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "figures.h"
#include "numbers.h"
#include "report.h"
#include "runs.h"

// The symbols of a form: plain ASCII for the summary and the text comparison,
// or the proper signs for the pictures and the page.
struct text_symbols {
  const char *us;  // "us" or "µs"
  const char *r2;  // "R^2" or "R²"
  const char *pm;  // "+-" or "±"
};
extern const text_symbols plain_symbols, rich_symbols;

// "1 row", "2 rows": the count and the thing, plural unless 1.
std::string count_of(int64_t count, const char *thing);

// "block size 512 B, 131072 blocks, 0.0625 GiB (64 MiB)".
std::string geometry_text(const report_drive *drive);

// How a drive is named in charts and tables: its root, with its size and
// block size where another of groups has that root at another, and with its
// input's name when there are several inputs and it has one run, or with its
// runs.
std::string drive_label(const std::vector<report_input> *inputs, const std::vector<drive_group> *groups,
                        const drive_group *group);

// "11 blocks (5.5 KiB)", or for a random row "range 2 MiB": how a row is named.
std::string table_row_label(const report_drive *drive, const run_row *row, bool random);

// A row of a table over runs in words: "84.1 +-3%", its median us per read and
// its spread; "-" when no run measured it.
std::string median_text(const run_row *row, const text_symbols *symbols);

// Lines of cells, each column padded to its widest cell: the first to the
// left, the rest to the right, the last (flags) loose; each line after indent.
void write_columns(const std::vector<std::vector<std::string>> *rows, const char *indent, std::string *out);

// A drive's figures in words, in the order every form shows them: the
// sequential peak, the fit, the widest and the narrowest random range, the
// cost of moving across the volume. Each is the number with what it rests
// on, or the note saying why there is none. A new figure joins here, and
// every form that lists them shows it.
struct figure_text {
  const char *label;  // "sequential peak"
  bool random;        // a figure of the random table (the summary lists it under that table)
  bool is_note;       // text says why there is no number
  std::string text;
};
void describe_figures(const report_drive *drive, const drive_figures *figures, const text_symbols *symbols,
                      std::vector<figure_text> *texts);
