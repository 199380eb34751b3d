#include <algorithm>

#include "escape.h"
#include "figures.h"
#include "flags.h"
#include "html_page.h"
#include "numbers.h"
#include "output.h"
#include "time_figures.h"
#include "wording.h"

// The page fetches nothing: no scripts, fonts, images or style sheets from
// anywhere, and its content security policy forbids the browser to try.
constexpr const char *page_head =
    "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
    "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src "
    "'unsafe-inline'\">\n";

constexpr const char *page_style =
    "<style>\n"
    "body{font-family:sans-serif;margin:1.5em;color:#222;max-width:72em}\n"
    "svg{max-width:100%;height:auto}\n"
    "table{border-collapse:collapse;margin:0.5em 0 1.5em}\n"
    "th,td{border:1px solid #bbb;padding:0.2em 0.5em;text-align:right}\n"
    "th{background:#eee;text-align:center}\n"
    "td.text,table.figures td{text-align:left}\n"
    "table.figures th{text-align:left;white-space:nowrap;vertical-align:top}\n"
    ".note{color:#666;font-style:italic}\n"
    ".warning{color:#8a4b00;font-weight:bold}\n"
    ".slower{color:#b00020}.faster{color:#006b21}\n"
    "table.timed{font-size:0.85em}\n"
    "table.timed td{white-space:nowrap;padding:0.15em 0.35em}\n"
    "td.slow-first{color:#b00020;font-weight:bold}\n"
    "caption{text-align:left;font-weight:bold;padding:0.3em 0}\n"
    "</style>\n";

std::string html_cell(const std::string &text, const char *cls) {
  return std::string("<td") + (cls ? std::string(" class=\"") + cls + "\"" : "") + ">" + text + "</td>";
}

std::string html_header_row(const std::vector<const char *> &names) {
  std::string out = "<tr>";
  for (const char *name : names) out += "<th>" + escape_xml(name) + "</th>";
  return out + "</tr>\n";
}

void start_html_page(const std::string &title, const std::string &intro, std::string *out) {
  *out += std::string(page_head) + "<title>" + title + "</title>\n" + page_style + "</head>\n<body>\n<h1>" +
          title + "</h1>\n<p>" + intro + "</p>\n";
}

void write_html_figures(const std::string &label, const drive_group *group, std::string *out) {
  const report_drive *drive = group->runs[0].drive;
  drive_figures f;
  std::string problem;
  bool paired = derive_group(group, &f, &problem) == 0;
  std::vector<figure_text> texts;
  describe_figures(drive, &f, &rich_symbols, &texts);
  describe_read_times(group, &rich_symbols, &texts);
  *out += "<table class=\"figures\">\n<caption>" + escape_xml(label) + "</caption>\n<tbody>\n";
  auto row = [&](const std::string &name, const std::string &html) {
    *out += "<tr><th>" + escape_xml(name) + "</th>" + html_cell(html) + "</tr>\n";
  };
  for (const std::string &warning : group_warnings(group))
    row("warning", "<span class=\"warning\">" + escape_xml(warning) + "</span>");
  for (const std::string &device : group_devices(group)) row("device", escape_xml(device));
  row("geometry", escape_xml(geometry_text(drive)));
  if (group->runs.size() > 1) row("runs", escape_xml(describe_runs(group)));
  if (!paired) row("runs that do not pair", "<span class=\"note\">" + escape_xml(problem) + "</span>");
  for (const figure_text &figure : texts)
    row(figure.label, figure.is_note ? "<span class=\"note\">" + escape_xml(figure.text) + "</span>"
                                     : escape_xml(figure.text));
  device_model model;
  derive_device_model(group, &model);
  std::vector<model_line> lines;
  describe_device_model(&model, &lines);
  for (const model_line &line : lines) row(line.label, escape_xml(line.text));
  *out += "</tbody>\n</table>\n";
}

// The header of a rows table: its own columns, and where blockmeter printed
// read times, one per time, under a head that spans them.
static std::string rows_table_head(const std::vector<const char *> &names, bool timed) {
  if (!timed) return html_header_row(names);
  std::string out = "<tr>";
  for (const char *name : names) out += "<th rowspan=\"2\">" + escape_xml(name) + "</th>";
  out += "<th colspan=\"" + std::to_string(read_time_count) +
         "\" class=\"times\">time of one read, \xc2\xb5s</th></tr>\n<tr>";
  for (const char *label : read_time_labels) out += "<th class=\"times\">" + escape_xml(label) + "</th>";
  return out + "</tr>\n";
}

static void write_rows_table(const report_drive *drive, bool random, std::string *out) {
  const report_table *table = random ? &drive->random : &drive->sequential;
  bool timed =
      std::any_of(table->rows.begin(), table->rows.end(), [](const report_row &row) { return row.timed; });
  *out += std::string("<table class=\"rows ") + (random ? "random" : "sequential") + (timed ? " timed" : "") +
          "\">\n<caption>" + (random ? "Random read test" : "Multisector read test") + "</caption>\n<thead>" +
          rows_table_head({random ? "range, blocks" : "blocks per read", random ? "range" : "bytes per read",
                           "reads", "ms", "MiB/s", "\xc2\xb5s per read", "reads per second", "flags"},
                          timed) +
          "</thead>\n<tbody>\n";
  for (const report_row &row : table->rows) {
    row_figures f;
    derive_row(drive, &row, random, &f);
    double size = random ? bytes_of_blocks(row.first, drive->block_size) : f.bytes_per_read;
    *out += "<tr>" + html_cell(std::to_string(row.first)) + html_cell(format_size(size)) +
            html_cell(std::to_string(row.reads)) + html_cell(std::to_string(row.ms)) +
            html_cell(row.mib_per_s_text) + html_cell(f.measured ? format_fixed(f.us_per_read, 2) : "") +
            html_cell(f.measured ? format_fixed(f.iops, 1) : "") + html_cell(flag_text(f.flags), "text");
    // Each time as blockmeter printed it; a slow first read stands out.
    for (int t = 0; timed && t < read_time_count; ++t)
      *out += html_cell(escape_xml(row.read_us_text[t]),
                        t == read_first && is_slow_first_read(&row) ? "slow-first" : "times");
    *out += "</tr>\n";
  }
  *out += "</tbody>\n</table>\n";
  if (std::any_of(table->rows.begin(), table->rows.end(),
                  [](const report_row &row) { return is_slow_first_read(&row); }))
    *out += "<p class=\"note\">A first read in red took over " + format_general(slow_first_read_ratio, 6) +
            " times its row's median and over " + format_general(slow_first_read_us / 1000, 6) +
            " ms: the device may have been idle or asleep.</p>\n";
}

// A drive with several runs: per row the median over them, the smallest, the
// largest and the spread.
static void write_run_rows_table(const drive_group *group, bool random, std::string *out) {
  const report_drive *drive = group->runs[0].drive;
  std::vector<run_row> rows;
  std::string problem;
  pair_runs(group, random, &rows, &problem);
  bool timed = std::any_of(rows.begin(), rows.end(), [](const run_row &row) { return row.timed_runs > 0; });
  *out += std::string("<table class=\"rows ") + (random ? "random" : "sequential") + (timed ? " timed" : "") +
          "\">\n<caption>" + (random ? "Random read test" : "Multisector read test") + ": medians of " +
          count_of((int64_t)group->runs.size(), "run") + "</caption>\n<thead>" +
          rows_table_head({random ? "range, blocks" : "blocks per read", random ? "range" : "bytes per read",
                           "runs", "\xc2\xb5s per read", "smallest", "largest", "spread", "MiB/s", "flags"},
                          timed) +
          "</thead>\n<tbody>\n";
  for (const run_row &row : rows) {
    bool measured = !row.us.empty();
    double size = random ? bytes_of_blocks(row.first, drive->block_size) : row.bytes_per_read;
    std::string flags = flag_text(row_flags(row.coarse, row.failed_reads));
    *out += "<tr>" + html_cell(std::to_string(row.first)) + html_cell(format_size(size)) +
            html_cell(std::to_string(row.runs)) + html_cell(measured ? format_fixed(row.median_us, 2) : "") +
            html_cell(measured ? format_fixed(row.min_us, 2) : "") +
            html_cell(measured ? format_fixed(row.max_us, 2) : "") +
            html_cell(measured ? "\xc2\xb1" + format_fixed(spread_pct(&row), 1) + "%" : "") +
            html_cell(format_fixed(row.median_mib_per_s, 2)) + html_cell(flags, "text");
    for (int t = 0; timed && t < read_time_count; ++t)
      *out += html_cell(row.timed_runs > 0 ? format_fixed(row.median_read_us[t], 1) : "", "times");
    *out += "</tr>\n";
  }
  *out += "</tbody>\n</table>\n";
}

int write_html(const std::vector<report_input> *inputs, report_sink *out, std::string *why) {
  std::string *text = &out->text;
  std::string names;
  for (const report_input &input : *inputs) names += (names.empty() ? "" : ", ") + escape_xml(input.name);
  start_html_page(
      "blockmeter report: " + names,
      "blockmeter's results from " + names + ", read by blockmeter-report " BLOCKMETER_VERSION ".", text);
  std::vector<drive_group> groups;
  group_runs(inputs, &groups);
  std::vector<chart_drive> drives;
  chart_drives(inputs, &groups, &drives);
  if (write_svg(&drives, false, out, why) != 0) return -1;
  *text +=
      "<h2>Per-drive figures</h2>\n<p>From the rows of " + std::to_string(coarse_below_ms) +
      " ms or more whose reads did not fail (of a drive measured several times: the medians of its runs, row "
      "by row, from rows of " +
      std::to_string(coarse_below_ms) + " ms or more in every run); each figure says what it rests on.</p>\n";
  for (const chart_drive &drive : drives) {
    write_html_figures(drive.label, drive.group, text);
    if (drain_sink(out, false, why) != 0) return -1;
  }
  *text += "<h2>Rows</h2>\n";
  for (const chart_drive &drive : drives) {
    const drive_group *group = drive.group;
    *text += "<section class=\"drive\">\n<h3>" + escape_xml(drive.label) + "</h3>\n";
    std::string cut_short;
    for (const drive_run &run : group->runs) {
      std::string named = group->runs.size() > 1 ? escape_xml(run.input->name) + ": " : "";
      if (run.drive->not_opened)
        *text += "<p class=\"note\">" + named + "blockmeter could not open this drive: no tables.</p>\n";
      if (is_cut_short(run.drive, &cut_short))
        *text += "<p class=\"note\">" + named + "The run was cut short: " + escape_xml(cut_short) + ".</p>\n";
    }
    if (group->runs.size() == 1) {
      write_rows_table(group->runs[0].drive, false, text);
      write_rows_table(group->runs[0].drive, true, text);
    } else {
      write_run_rows_table(group, false, text);
      write_run_rows_table(group, true, text);
    }
    *text += "</section>\n";
    if (drain_sink(out, false, why) != 0) return -1;
  }
  *text += "</body>\n</html>\n";
  return 0;
}
