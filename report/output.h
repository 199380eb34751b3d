// The report in each of its forms, made into a sink that the caller drains
// where the report belongs. Every form covers all drives of all inputs, in
// order; the summary and the pictures show the runs of one drive (runs.h)
// once, from the medians of their rows.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "figures.h"
#include "report.h"
#include "runs.h"
#include "terminal_text.h"

// Where a report's text goes while it is made: kept in text, and moved to
// file whenever it has grown past sink_drain_bytes, so that a long report
// never needs its whole length in memory.
struct report_sink {
  std::string text;      // made and not yet written
  FILE *file = nullptr;  // null: text keeps the whole report
  int error = 0;         // errno of the first write that failed; 0 while none did
};
constexpr size_t sink_drain_bytes = 1 << 16;

// Moves the text to the file when it holds sink_drain_bytes or more, or, with
// all, whatever it holds. Without a file, or after a failed write, it only
// clears what can no longer be written.
void drain_sink(report_sink *sink, bool all);

// Per drive: the geometry and the figures of figures.h, as plain text; for a
// drive with several runs, also its rows' medians and spreads.
void write_summary(const std::vector<report_input> *inputs, report_sink *out);

// RFC 4180: a header, then one record per table row of every run, CR LF after
// each.
void write_csv_header(report_sink *out);
void write_csv_rows(const report_input *input, const report_drive *drive, report_sink *out);
void write_csv(const std::vector<report_input> *inputs, report_sink *out);

// A text field of a CSV record. One that starts with =, +, -, @, a tab or a
// carriage return (but "-" alone) gets a leading ' so that spreadsheet
// programs take it as text, not as a formula; then, per RFC 4180, one that
// holds a comma, a quote or a line break is quoted, its quotes doubled.
// Numbers are written as they are, not through this.
std::string csv_field(std::string_view text);

// One JSON document: inputs, their drives, each drive's rows with their
// derived fields, and its figures; then, for each drive with several runs,
// its rows' medians and spreads and the figures from them. Bytes that are not
// UTF-8 become U+FFFD.
void write_json(const std::vector<report_input> *inputs, report_sink *out);

// One line or band of a chart: a drive with its runs, or one side of a
// comparison.
struct chart_drive {
  std::string label;
  const drive_group *group;
};

// Two charts side by side: sequential MiB/s against bytes per read and random
// microseconds per read against the range in bytes, x logarithmic, one line
// per drive (the median of its runs, in a band from the smallest to the
// largest value where there are several), and a legend. Standalone: an XML
// document with its namespace; otherwise an <svg> element to place in an
// HTML page.
void write_svg(const std::vector<chart_drive> *drives, bool standalone, report_sink *out);
void write_svg(const std::vector<report_input> *inputs, bool standalone, report_sink *out);

// A page that needs nothing else: the charts, the figures and the rows.
void write_html(const std::vector<report_input> *inputs, report_sink *out);

// Shared by the forms above.

// The chart lines of the drives of inputs: one per group of runs, labelled as
// drive_label says.
void chart_drives(const std::vector<report_input> *inputs, const std::vector<drive_group> *groups,
                  std::vector<chart_drive> *drives);

// Bytes in the largest of B, KiB, MiB, GiB that keeps the number at 1 or
// more, with up to 4 significant digits: "512 B", "5.5 KiB", "64 MiB".
std::string format_size(double bytes);

// "1 row", "2 rows": the count and the thing, plural unless 1.
std::string count_of(int64_t count, const char *thing);

// printf-style fixed decimals ("%.*f").
std::string format_fixed(double value, int decimals);

// The shortest decimal without an exponent that reads back as the same double.
std::string format_exact(double value);

// The shortest text that reads back as the same double, with an exponent
// where that is shorter ("0.05", "1e-300"), as JSON writes numbers: for values
// of any size, such as p-values and alpha.
std::string format_shortest(double value);

// A p-value to read: three decimals ("0.029"), or three significant digits
// with an exponent below 0.001 ("1.5e-45").
std::string format_p(double p);

// Whether a formatter above could not format a number (and gave "" for it):
// a report holding one is not complete.
bool number_format_failed();

// Text safe inside XML and HTML elements and attributes: markup characters
// escaped, invalid UTF-8 and characters XML forbids replaced by U+FFFD.
std::string escape_xml(std::string_view text);

// RFC 4180: a field holding a comma, a quote or a line break is quoted, its
// quotes doubled.
std::string csv_field(std::string_view text);

// The symbols of a form: plain ASCII for the summary and the text comparison,
// or the proper signs for the pictures and the page.
struct text_symbols {
  const char *us;  // "us" or "µs"
  const char *r2;  // "R^2" or "R²"
  const char *pm;  // "+-" or "±"
};
extern const text_symbols plain_symbols, rich_symbols;

// A drive's figures in words: the sequential peak, the fit, the widest and
// the narrowest random range, the cost of moving across the volume. Each is
// the number with what it rests on, or the note saying why there is none.
constexpr int figure_count = 5;
extern const char *const figure_labels[figure_count];
struct figure_texts {
  std::string text[figure_count];
  bool is_note[figure_count];
};
void describe_figures(const report_drive *drive, const drive_figures *figures, const text_symbols *symbols,
                      figure_texts *texts);

// How a drive is named in charts and tables: its root, with its size and
// block size where another of groups has that root at another, and with its
// input's name when there are several inputs and it has one run, or with its
// runs.
std::string drive_label(const std::vector<report_input> *inputs, const std::vector<drive_group> *groups,
                        const drive_group *group);

// Lines of cells, each column padded to its widest cell: the first to the
// left, the rest to the right, the last (flags) loose; each line after indent.
void write_columns(const std::vector<std::vector<std::string>> *rows, const char *indent, std::string *out);

// "11 blocks (5.5 KiB)", or for a random row "range 2 MiB": how a row is named.
std::string table_row_label(const report_drive *drive, const run_row *row, bool random);

// A row of a table over runs in words: "84.1 +-3%", its median us per read and
// its spread; "-" when no run measured it.
std::string median_text(const run_row *row, const text_symbols *symbols);
