// The report in each of its forms, made into a sink that the caller drains
// where the report belongs. Every form covers all drives of all inputs, in
// order; the summary and the pictures show the runs of one drive (runs.h)
// once, from the medians of their rows.
#pragma once

#include <string>
#include <vector>

#include "report.h"
#include "report_sink.h"
#include "runs.h"

// Each writer returns 0, or -1 with *why set when the sink could not take its
// text (drain_sink); it stops there.

// Per drive: the geometry and the figures of figures.h, as plain text; for a
// drive with several runs, also its rows' medians and spreads.
int write_summary(const std::vector<report_input> *inputs, report_sink *out, std::string *why);

// RFC 4180: a header, then one record per table row of every run, CR LF after
// each.
void write_csv_header(report_sink *out);
int write_csv_rows(const report_input *input, const report_drive *drive, report_sink *out, std::string *why);
int write_csv(const std::vector<report_input> *inputs, report_sink *out, std::string *why);

// One JSON document: inputs, their drives, each drive's rows with their
// derived fields, and its figures; then, for each drive with several runs,
// its rows' medians and spreads and the figures from them. Bytes that are not
// UTF-8 become U+FFFD.
int write_json(const std::vector<report_input> *inputs, report_sink *out, std::string *why);

// One line or band of a chart: a drive with its runs, or one side of a
// comparison.
struct chart_drive {
  std::string label;
  const drive_group *group;
};

// The chart lines of the drives of inputs: one per group of runs, labelled as
// drive_label (wording.h) says.
void chart_drives(const std::vector<report_input> *inputs, const std::vector<drive_group> *groups,
                  std::vector<chart_drive> *drives);

// Two charts side by side: sequential MiB/s against bytes per read and random
// microseconds per read against the range in bytes, x logarithmic, one line
// per drive (the median of its runs, in a band from the smallest to the
// largest value where there are several), and a legend. Standalone: an XML
// document with its namespace; otherwise an <svg> element to place in an
// HTML page.
int write_svg(const std::vector<chart_drive> *drives, bool standalone, report_sink *out, std::string *why);
int write_svg(const std::vector<report_input> *inputs, bool standalone, report_sink *out, std::string *why);

// A page that needs nothing else: the charts, the figures and the rows.
int write_html(const std::vector<report_input> *inputs, report_sink *out, std::string *why);
