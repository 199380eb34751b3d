#include "figures.h"
#include "output.h"

// The page fetches nothing: no scripts, fonts, images or style sheets from
// anywhere, and its content security policy forbids the browser to try.
constexpr const char *page_head =
    "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
    "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src "
    "'unsafe-inline'\">\n";

constexpr const char *page_style =
    "<style>\n"
    "body{font-family:sans-serif;margin:1.5em;color:#222}\n"
    "svg{max-width:100%;height:auto}\n"
    "table{border-collapse:collapse;margin:0.5em 0 1.5em}\n"
    "th,td{border:1px solid #bbb;padding:0.2em 0.5em;text-align:right}\n"
    "th{background:#eee;text-align:center}\n"
    "td.text,#figures td{text-align:left}\n"
    ".note{color:#666;font-style:italic}\n"
    "caption{text-align:left;font-weight:bold;padding:0.3em 0}\n"
    "</style>\n";

static std::string cell(const std::string &text, const char *cls = nullptr) {
  return std::string("<td") + (cls ? std::string(" class=\"") + cls + "\"" : "") + ">" + text + "</td>";
}

static std::string header_row(const std::vector<const char *> &names) {
  std::string out = "<tr>";
  for (const char *name : names) out += "<th>" + escape_xml(name) + "</th>";
  return out + "</tr>\n";
}

static void write_figures_table(const std::vector<report_input> *inputs, std::string *out) {
  *out += "<h2>Per-drive figures</h2>\n<p>From the rows of " + std::to_string(coarse_below_ms) +
          " ms or more whose reads did not fail; each figure says how many rows it rests on.</p>\n"
          "<table id=\"figures\">\n<thead><tr><th>drive</th><th>block size</th><th>blocks</th><th>size</th>";
  for (const char *label : figure_labels) *out += std::string("<th>") + label + "</th>";
  *out += "</tr></thead>\n<tbody>\n";
  for (const report_input &input : *inputs)
    for (const report_drive &drive : input.drives) {
      drive_figures f;
      derive_drive(&drive, &f);
      figure_texts texts;
      describe_figures(&drive, &f, "\xc2\xb5s", &texts);
      double bytes = (double)drive.block_size * (double)drive.n_blocks;
      *out += "<tr>" + cell(escape_xml(drive_label(inputs, &input, &drive))) +
              cell(std::to_string(drive.block_size) + " B") + cell(std::to_string(drive.n_blocks)) +
              cell(format_fixed(bytes / (1 << 30), 4) + " GiB (" + format_size(bytes) + ")");
      for (int i = 0; i < figure_count; ++i)
        *out += cell(texts.is_note[i] ? "<span class=\"note\">" + escape_xml(texts.text[i]) + "</span>"
                                      : escape_xml(texts.text[i]));
      *out += "</tr>\n";
    }
  *out += "</tbody>\n</table>\n";
}

static void write_rows_table(const report_drive *drive, bool random, std::string *out) {
  const report_table *table = random ? &drive->random : &drive->sequential;
  *out += std::string("<table class=\"rows ") + (random ? "random" : "sequential") + "\">\n<caption>" +
          (random ? "Random read test" : "Multisector read test") + "</caption>\n<thead>" +
          header_row({random ? "range, blocks" : "blocks per read", random ? "range" : "bytes per read",
                      "reads", "ms", "MiB/s", "\xc2\xb5s per read", "reads per second", "flags"}) +
          "</thead>\n<tbody>\n";
  for (const report_row &row : table->rows) {
    row_figures f;
    derive_row(drive, &row, random, &f);
    double size = random ? (double)row.first * (double)drive->block_size : f.bytes_per_read;
    *out += "<tr>" + cell(std::to_string(row.first)) + cell(format_size(size)) +
            cell(std::to_string(row.reads)) + cell(std::to_string(row.ms)) + cell(row.mib_per_s_text) +
            cell(f.measured ? format_fixed(f.us_per_read, 2) : "") +
            cell(f.measured ? format_fixed(f.iops, 1) : "") + cell(f.flags, "text") + "</tr>\n";
  }
  *out += "</tbody>\n</table>\n";
}

void write_html(const std::vector<report_input> *inputs, std::string *out) {
  std::string names;
  for (const report_input &input : *inputs) names += (names.empty() ? "" : ", ") + escape_xml(input.name);
  *out += std::string(page_head) + "<title>blockmeter report: " + names + "</title>\n" + page_style +
          "</head>\n<body>\n<h1>blockmeter report</h1>\n<p>blockmeter's results from " + names +
          ", read by blockmeter-report " BLOCKMETER_VERSION ".</p>\n";
  write_svg(inputs, false, out);
  write_figures_table(inputs, out);
  *out += "<h2>Rows</h2>\n";
  for (const report_input &input : *inputs)
    for (const report_drive &drive : input.drives) {
      *out += "<section class=\"drive\">\n<h3>" + escape_xml(drive_label(inputs, &input, &drive)) + "</h3>\n";
      std::string why;
      if (drive.not_opened)
        *out += "<p class=\"note\">blockmeter could not open this drive: no tables.</p>\n";
      if (is_cut_short(&drive, &why))
        *out += "<p class=\"note\">The run was cut short: " + escape_xml(why) + ".</p>\n";
      write_rows_table(&drive, false, out);
      write_rows_table(&drive, true, out);
      *out += "</section>\n";
    }
  *out += "</body>\n</html>\n";
}
