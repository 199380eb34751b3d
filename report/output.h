// The report in each of its forms, appended to a string; the caller writes it
// where it belongs. Every form covers all drives of all inputs, in order.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "figures.h"
#include "report.h"

// Per drive: the geometry and the figures of figures.h, as plain text.
void write_summary(const std::vector<report_input> *inputs, std::string *out);

// RFC 4180: a header, then one record per table row, CR LF after each.
void write_csv(const std::vector<report_input> *inputs, std::string *out);

// A text field of a CSV record. One that starts with =, +, -, @, a tab or a
// carriage return (but "-" alone) gets a leading ' so that spreadsheet
// programs take it as text, not as a formula; then, per RFC 4180, one that
// holds a comma, a quote or a line break is quoted, its quotes doubled.
// Numbers are written as they are, not through this.
std::string csv_field(std::string_view text);

// One JSON document: inputs, their drives, each drive's rows with their
// derived fields, and its figures. Bytes that are not UTF-8 become U+FFFD.
void write_json(const std::vector<report_input> *inputs, std::string *out);

// Two charts side by side: sequential MiB/s against bytes per read and random
// microseconds per read against the range in bytes, x logarithmic, one line
// per drive, and a legend. Standalone: an XML document with its namespace;
// otherwise an <svg> element to place in an HTML page.
void write_svg(const std::vector<report_input> *inputs, bool standalone, std::string *out);

// A page that needs nothing else: the charts, the figures and the rows.
void write_html(const std::vector<report_input> *inputs, std::string *out);

// Shared by the forms above.

// Bytes in the largest of B, KiB, MiB, GiB that keeps the number at 1 or
// more, with up to 4 significant digits: "512 B", "5.5 KiB", "64 MiB".
std::string format_size(double bytes);

// "1 row", "2 rows": the count and the thing, plural unless 1.
std::string count_of(int64_t count, const char *thing);

// printf-style fixed decimals ("%.*f").
std::string format_fixed(double value, int decimals);

// The shortest decimal without an exponent that reads back as the same double.
std::string format_exact(double value);

// Text safe inside XML and HTML elements and attributes: markup characters
// escaped, invalid UTF-8 and characters XML forbids replaced by U+FFFD.
std::string escape_xml(std::string_view text);

// Text safe for a terminal: control characters replaced by '?'.
std::string plain_text(std::string_view text);

// A drive's figures in words: the sequential peak, the fit, the widest and
// the narrowest random range, the cost of moving across the volume. Each is
// the number with what it rests on, or the note saying why there is none.
constexpr int figure_count = 5;
extern const char *const figure_labels[figure_count];
struct figure_texts {
  std::string text[figure_count];
  bool is_note[figure_count];
};
void describe_figures(const report_drive *drive, const drive_figures *figures, const char *us_unit,
                      figure_texts *texts);

// How a drive is named in charts and tables: its root, and its input's name
// when there are several inputs.
std::string drive_label(const std::vector<report_input> *inputs, const report_input *input,
                        const report_drive *drive);
