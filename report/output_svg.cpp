#include <algorithm>
#include <cmath>

#include "escape.h"
#include "figures.h"
#include "numbers.h"
#include "output.h"
#include "wording.h"

// Layout, in SVG user units: two charts side by side, the legend below.
constexpr double chart_width = 500;
constexpr double chart_height = 370;
constexpr double plot_left = 78, plot_right = 32, plot_top = 54, plot_bottom = 62;
constexpr double legend_line = 20;
constexpr int most_x_ticks = 9;
constexpr int y_tick_target = 5;
constexpr double marker_radius = 3.5;
constexpr size_t longest_legend_device = 90;

static const char *const palette[] = {"#1f77b4", "#d62728", "#2ca02c", "#ff7f0e",
                                      "#9467bd", "#8c564b", "#e377c2", "#17becf"};

struct chart_point {
  double x, y;
  double low, high;  // the band: the smallest and the largest of the runs
  bool hollow;       // coarse, or no reads: not a measurement to trust
  bool failed;       // failed or short reads
  std::string tip;
};

struct chart_series {
  const char *colour;
  std::string label;
  bool banded;  // several runs: a band around the median line
  std::vector<chart_point> points;
  int peak;  // the point that is the drive's sequential peak, or -1
};

// A chart's series are made one at a time, as they are scaled and drawn, so
// that a capture of many drives never holds them all.
struct chart {
  const char *id, *title, *better, *x_title, *y_title;
  bool random;
  const std::vector<chart_drive> *drives;
};

static void make_series(const chart_drive *entry, size_t index, bool random, chart_series *series);

// The scales: x from 2^lo to 2^hi, y from 0 to y_top in steps of y_step.
struct chart_scale {
  int lo, hi;
  double y_top, y_step;
};

// Never a coordinate that is not a number: a crafted input may hold values
// beyond what a double can scale.
static std::string num(double value) { return format_fixed(std::isfinite(value) ? value : 0, 1); }

// A round step (1, 2 or 5 times a power of ten) that divides 0..max into
// about y_tick_target parts.
static double round_step(double max) {
  double raw = max / y_tick_target;
  double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double factor : {1.0, 2.0, 5.0})
    if (raw <= factor * power) return factor * power;
  return 10 * power;
}

// Values past this are garbage, and would overflow the scale's arithmetic.
constexpr double largest_value = 1e15;

// The y range comes from the rows to trust: coarse rows set it only when
// there is nothing else, and are drawn at the top edge when above it.
static chart_scale scale_chart(const chart *c) {
  double x_min = INFINITY, x_max = 0, y_max = 0, y_max_coarse = 0;
  for (size_t i = 0; i < c->drives->size(); ++i) {
    chart_series series;
    make_series(&(*c->drives)[i], i, c->random, &series);
    for (const chart_point &p : series.points) {
      x_min = std::min(x_min, p.x), x_max = std::max(x_max, p.x);
      double top = std::min(largest_value, std::max(p.y, series.banded ? p.high : p.y));
      (p.hollow ? y_max_coarse : y_max) = std::max(p.hollow ? y_max_coarse : y_max, top);
    }
  }
  if (y_max <= 0) y_max = y_max_coarse;
  chart_scale scale;
  scale.lo = x_max > 0 ? (int)std::floor(std::log2(x_min)) : 9;
  scale.hi = x_max > 0 ? (int)std::ceil(std::log2(x_max)) : 10;
  if (scale.hi <= scale.lo) scale.hi = scale.lo + 1;
  scale.y_step = round_step(y_max > 0 ? y_max : 1);
  scale.y_top = std::ceil((y_max > 0 ? y_max : 1) / scale.y_step) * scale.y_step;
  return scale;
}

static void write_axes(const chart *c, const chart_scale *s, double left, double right, double bottom,
                       std::string *out) {
  double top = plot_top, mid_x = (left + right) / 2;
  *out += "<text class=\"chart-title\" x=\"" + num(mid_x) + "\" y=\"22\" text-anchor=\"middle\">" +
          escape_xml(c->title) + "</text>\n<text class=\"better\" x=\"" + num(mid_x) +
          "\" y=\"40\" text-anchor=\"middle\">" + escape_xml(c->better) + "</text>\n";
  int step = std::max(1, (s->hi - s->lo + most_x_ticks - 2) / (most_x_ticks - 1));
  for (int power = s->lo; power <= s->hi; power += step) {
    double x = left + (right - left) * (power - s->lo) / (s->hi - s->lo);
    *out += "<line class=\"grid\" x1=\"" + num(x) + "\" y1=\"" + num(top) + "\" x2=\"" + num(x) + "\" y2=\"" +
            num(bottom) + "\"/>\n<text class=\"tick\" x=\"" + num(x) + "\" y=\"" + num(bottom + 16) +
            "\" text-anchor=\"middle\">" + format_size(std::ldexp(1.0, power)) + "</text>\n";
  }
  int y_ticks = (int)std::lround(s->y_top / s->y_step);
  for (int i = 0; i <= y_ticks; ++i) {
    double value = i * s->y_step, y = bottom - (bottom - top) * i / y_ticks;
    std::string label = format_general(value, 6);
    *out += "<line class=\"grid\" x1=\"" + num(left) + "\" y1=\"" + num(y) + "\" x2=\"" + num(right) +
            "\" y2=\"" + num(y) + "\"/>\n<text class=\"tick\" x=\"" + num(left - 6) + "\" y=\"" + num(y + 4) +
            "\" text-anchor=\"end\">" + label + "</text>\n";
  }
  *out += "<rect class=\"frame\" x=\"" + num(left) + "\" y=\"" + num(top) + "\" width=\"" +
          num(right - left) + "\" height=\"" + num(bottom - top) + "\"/>\n";
  *out += "<text class=\"axis-title\" x=\"" + num(mid_x) + "\" y=\"" + num(bottom + 40) +
          "\" text-anchor=\"middle\">" + escape_xml(c->x_title) + "</text>\n";
  double y_mid = (top + bottom) / 2, y_title_x = left - 58;
  *out += "<text class=\"axis-title\" x=\"" + num(y_title_x) + "\" y=\"" + num(y_mid) +
          "\" text-anchor=\"middle\" transform=\"rotate(-90 " + num(y_title_x) + " " + num(y_mid) + ")\">" +
          escape_xml(c->y_title) + "</text>\n";
}

static int write_chart(const chart *c, double x0, report_sink *sink, std::string *why) {
  std::string *out = &sink->text;
  chart_scale s = scale_chart(c);
  double left = x0 + plot_left, right = x0 + chart_width - plot_right, bottom = chart_height - plot_bottom;
  *out += "<g class=\"chart\" id=\"" + std::string(c->id) + "\">\n";
  write_axes(c, &s, left, right, bottom, out);
  auto place_x = [&](double x) { return left + (right - left) * (std::log2(x) - s.lo) / (s.hi - s.lo); };
  auto place_y = [&](double y) { return bottom - (bottom - plot_top) * std::min(y, s.y_top) / s.y_top; };
  size_t points = 0;
  for (size_t i = 0; i < c->drives->size(); ++i) {
    chart_series series;
    make_series(&(*c->drives)[i], i, c->random, &series);
    *out += "<g class=\"drive\" stroke=\"" + std::string(series.colour) + "\">\n<title>" +
            escape_xml(series.label) + "</title>\n";
    std::vector<chart_point> sorted = series.points;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const chart_point &a, const chart_point &b) { return a.x < b.x; });
    if (series.banded && sorted.size() > 1) {
      *out += "<polygon class=\"band\" fill=\"" + std::string(series.colour) + "\" points=\"";
      for (const chart_point &p : sorted) *out += num(place_x(p.x)) + "," + num(place_y(p.high)) + " ";
      for (auto p = sorted.rbegin(); p != sorted.rend(); ++p)
        *out += num(place_x(p->x)) + "," + num(place_y(p->low)) + " ";
      out->back() = '"';
      *out += "/>\n";
    }
    if (sorted.size() > 1) {
      *out += "<polyline class=\"curve\" points=\"";
      for (const chart_point &p : sorted) *out += num(place_x(p.x)) + "," + num(place_y(p.y)) + " ";
      out->back() = '"';
      *out += "/>\n";
    }
    for (const chart_point &p : series.points) {
      std::string cx = num(place_x(p.x)), cy = num(place_y(p.y));
      std::string fill = p.hollow ? std::string("#ffffff") : std::string(series.colour);
      if (p.y > s.y_top)  // off the scale: a triangle pointing up at the top edge
        *out += "<path class=\"point off-scale\" d=\"M" + cx + " " + num(place_y(p.y) - 5) + "l4.5 8h-9z\" fill=\"" +
                fill + "\"><title>" + escape_xml(p.tip) + " (above the scale)</title></path>\n";
      else
        *out += "<circle class=\"point\" cx=\"" + cx + "\" cy=\"" + cy + "\" r=\"" + num(marker_radius) +
                "\" fill=\"" + fill + "\"><title>" + escape_xml(p.tip) + "</title></circle>\n";
      if (p.failed)
        *out += "<path class=\"failed\" d=\"M" + num(place_x(p.x) - 6) + " " + num(place_y(p.y) - 6) +
                "l12 12m0 -12l-12 12\"/>\n";
    }
    if (series.peak >= 0) {
      const chart_point &p = series.points[series.peak];
      *out += "<circle class=\"peak\" cx=\"" + num(place_x(p.x)) + "\" cy=\"" + num(place_y(p.y)) +
              "\" r=\"8\" fill=\"none\"><title>peak: " + escape_xml(p.tip) + "</title></circle>\n<text class=\"peak-label\" x=\"" +
              num(place_x(p.x)) + "\" y=\"" + num(place_y(p.y) - 12) + "\" text-anchor=\"middle\" fill=\"" +
              series.colour + "\" stroke=\"none\">peak</text>\n";
    }
    points += series.points.size();
    *out += "</g>\n";
    if (drain_sink(sink, false, why) != 0) return -1;
  }
  if (points == 0)
    *out += "<text class=\"tick\" x=\"" + num((left + right) / 2) + "\" y=\"" + num((plot_top + bottom) / 2) +
            "\" text-anchor=\"middle\">no rows</text>\n";
  *out += "</g>\n";
  return 0;
}

// What a point stands for: one run's row with its reads and time, or the
// median of several with their spread.
static std::string point_tip(const std::string &label, const std::string &what, const report_row *one,
                             const run_row *row, const std::string &low, const std::string &high) {
  if (one != nullptr)
    return label + ": " + what + ", " + std::to_string(one->reads) + " reads in " + std::to_string(one->ms) +
           " ms" + (one->failed_reads ? ", some failed or short" : "");
  return label + ": " + what + " (median of " + count_of(row->runs, "run") + "; " + low + " to " + high + ")" +
         (row->failed_reads ? ", some reads failed or short" : "");
}

static const char *drive_colour(size_t index) { return palette[index % (sizeof palette / sizeof palette[0])]; }

// A chart's series for one drive: one point per row (the median over its
// runs). A sequential row is placed at its printed speed, even with no reads
// (its speed is then 0); a random row needs reads to have a time.
static void make_series(const chart_drive *entry, size_t index, bool random, chart_series *series) {
  const drive_group *group = entry->group;
  const report_drive *drive = group->runs[0].drive;
  const report_drive *only = group->runs.size() == 1 ? drive : nullptr;
  const std::string &label = entry->label;
  *series = {drive_colour(index), label, group->runs.size() > 1, {}, -1};
  std::vector<run_row> seq_rows, rnd_rows;
  std::string problem;
  pair_runs(group, false, &seq_rows, &problem);
  pair_runs(group, true, &rnd_rows, &problem);
  if (!random) {
    drive_figures figures;
    derive_figures(&seq_rows, &rnd_rows, (int)group->runs.size(), &figures);
    for (size_t i = 0; i < seq_rows.size(); ++i) {
      const run_row &row = seq_rows[i];
      if (row.bytes_per_read <= 0) continue;  // "0 blocks per read": nowhere on a log scale
      std::string what =
          format_size(row.bytes_per_read) + " per read, " + format_fixed(row.median_mib_per_s, 2) + " MiB/s";
      if (figures.peak_note.empty() && row.first == figures.peak_blocks_per_read && series->peak < 0)
        series->peak = (int)series->points.size();
      series->points.push_back({row.bytes_per_read, std::min(row.median_mib_per_s, largest_value),
                                std::min(row.min_mib_per_s, largest_value),
                                std::min(row.max_mib_per_s, largest_value), row.us.empty() || row.coarse,
                                row.failed_reads,
                                point_tip(label, what, only ? &only->sequential.rows[i] : nullptr, &row,
                                          format_fixed(row.min_mib_per_s, 2), format_fixed(row.max_mib_per_s, 2))});
    }
    return;
  }
  for (size_t i = 0; i < rnd_rows.size(); ++i) {
    const run_row &row = rnd_rows[i];
    double range_bytes = bytes_of_blocks(row.first, drive->block_size);
    if (row.us.empty() || range_bytes <= 0) continue;
    std::string what =
        "range " + format_size(range_bytes) + ", " + format_fixed(row.median_us, 1) + " \xc2\xb5s per read";
    series->points.push_back({range_bytes, row.median_us, row.min_us, row.max_us, row.coarse, row.failed_reads,
                              point_tip(label, what, only ? &only->random.rows[i] : nullptr, &row,
                                        format_fixed(row.min_us, 1), format_fixed(row.max_us, 1))});
  }
}

static std::string legend_text(const chart_drive *entry, std::string *tip) {
  std::string text = entry->label;
  std::vector<std::string> devices = group_devices(entry->group), warnings = group_warnings(entry->group);
  *tip = entry->label;
  for (const std::string &device : devices) {
    std::string shown = device.size() > longest_legend_device ? device.substr(0, longest_legend_device) + "\xe2\x80\xa6"
                                                              : device;
    text += " \xe2\x80\x94 " + shown;
    *tip += "\nreading " + device;
  }
  if (!warnings.empty()) text = "\xe2\x9a\xa0 " + text + " (blockmeter warned: its figures may not be the device's)";
  for (const std::string &warning : warnings) *tip += "\nwarning: " + warning;
  return text;
}

int write_svg(const std::vector<chart_drive> *drives, bool standalone, report_sink *out, std::string *why) {
  int64_t block_size = drives->empty() ? 0 : (*drives)[0].group->runs[0].drive->block_size;
  bool banded = false;
  for (const chart_drive &entry : *drives) {
    if (entry.group->runs[0].drive->block_size != block_size) block_size = 0;
    banded = banded || entry.group->runs.size() > 1;
  }
  std::string random_title = "Random reads of one block" + (block_size > 0 ? " (" + format_size((double)block_size) + ")" : std::string(" each"));
  chart sequential = {"sequential-chart", "Sequential reads", "higher is better",
                      "bytes per read (log\xe2\x82\x82 scale)", "MiB/s", false, drives};
  chart random = {"random-chart",
                  random_title.c_str(),
                  "lower is better",
                  "range read across, in bytes: the seek distance (log\xe2\x82\x82 scale)",
                  "\xc2\xb5s per read",
                  true,
                  drives};
  std::string *text = &out->text;
  double height = chart_height + legend_line * (double)(drives->size() + 2 + (banded ? 1 : 0));
  std::string size = "width=\"" + num(2 * chart_width) + "\" height=\"" + num(height) + "\" viewBox=\"0 0 " +
                     num(2 * chart_width) + " " + num(height) + "\"";
  if (standalone) *text += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  *text += "<svg " + std::string(standalone ? "xmlns=\"http://www.w3.org/2000/svg\" " : "") + size +
           " font-family=\"sans-serif\" font-size=\"12\" class=\"blockmeter-charts\">\n"
           "<title>blockmeter: sequential and random reads</title>\n"
           "<style>.grid{stroke:#e0e0e0}.frame{fill:none;stroke:#555}.chart-title{font-size:15px;"
           "font-weight:bold}.better{font-size:12px;fill:#555}.axis-title{font-size:13px}.tick{fill:#333}"
           ".curve{fill:none;stroke-width:1.5}.band{stroke:none;fill-opacity:0.18}.point{stroke-width:1.5}"
           ".peak{stroke-width:1.5}.peak-label{font-size:11px}.failed{stroke:#000;stroke-width:1.5}</style>\n"
           "<rect x=\"0\" y=\"0\" width=\"" +
           num(2 * chart_width) + "\" height=\"" + num(height) + "\" fill=\"#ffffff\"/>\n";
  if (write_chart(&sequential, 0, out, why) != 0 || write_chart(&random, chart_width, out, why) != 0 ||
      drain_sink(out, false, why) != 0)
    return -1;

  *text += "<g class=\"legend\">\n";
  double y = chart_height;
  for (const chart_drive &entry : *drives) {
    const char *colour = drive_colour((size_t)(&entry - drives->data()));
    std::string tip, shown = legend_text(&entry, &tip);
    *text += "<g class=\"legend-drive\"><title>" + escape_xml(tip) + "</title><line x1=\"" + num(plot_left) +
             "\" y1=\"" + num(y - 4) + "\" x2=\"" + num(plot_left + 30) + "\" y2=\"" + num(y - 4) +
             "\" stroke=\"" + colour + "\" stroke-width=\"2.5\"/>\n<text x=\"" + num(plot_left + 38) + "\" y=\"" +
             num(y) + "\">" + escape_xml(shown) + "</text></g>\n";
    y += legend_line;
    if (drain_sink(out, false, why) != 0) return -1;
  }
  if (banded) {
    *text += "<text x=\"" + num(plot_left) + "\" y=\"" + num(y + 4) +
             "\">a line: the median of a drive's runs, row by row; its shade: the smallest to the largest of "
             "them</text>\n";
    y += legend_line;
  }
  *text += "<text x=\"" + num(plot_left) + "\" y=\"" + num(y + 4) + "\">\xe2\x97\x8f a row of " +
           std::to_string(coarse_below_ms) +
           " ms or more; \xe2\x97\x8b a shorter row (coarse: the 1 ms tick is over 1 % of its time); "
           "\xc3\x97 some of its reads failed or came back short</text>\n</g>\n</svg>\n";
  return 0;
}

int write_svg(const std::vector<report_input> *inputs, bool standalone, report_sink *out, std::string *why) {
  std::vector<drive_group> groups;
  group_runs(inputs, &groups);
  std::vector<chart_drive> drives;
  chart_drives(inputs, &groups, &drives);
  return write_svg(&drives, standalone, out, why);
}

void chart_drives(const std::vector<report_input> *inputs, const std::vector<drive_group> *groups,
                  std::vector<chart_drive> *drives) {
  for (const drive_group &group : *groups) drives->push_back({drive_label(inputs, groups, &group), &group});
}
