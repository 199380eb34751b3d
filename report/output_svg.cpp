#include <algorithm>
#include <array>
#include <cmath>

#include "escape.h"
#include "figures.h"
#include "numbers.h"
#include "output.h"
#include "time_figures.h"
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

// A horizontal grid line at y, labelled at the left when label is not empty.
static void write_y_tick(double y, const std::string &label, const char *cls, double left, double right,
                         std::string *out) {
  *out += "<line class=\"" + std::string(cls) + "\" x1=\"" + num(left) + "\" y1=\"" + num(y) + "\" x2=\"" +
          num(right) + "\" y2=\"" + num(y) + "\"/>\n";
  if (!label.empty())
    *out += "<text class=\"tick\" x=\"" + num(left - 6) + "\" y=\"" + num(y + 4) + "\" text-anchor=\"end\">" +
            label + "</text>\n";
}

// The titles, the x axis from 2^lo to 2^hi (pad inside the frame at each
// end), the y ticks made by the caller, and the frame.
static void write_axes(const chart *c, int lo, int hi, double pad, const std::string &y_ticks, double left,
                       double right, double bottom, std::string *out) {
  double top = plot_top, mid_x = (left + right) / 2, x_left = left + pad, x_right = right - pad;
  *out += "<text class=\"chart-title\" x=\"" + num(mid_x) + "\" y=\"22\" text-anchor=\"middle\">" +
          escape_xml(c->title) + "</text>\n<text class=\"better\" x=\"" + num(mid_x) +
          "\" y=\"40\" text-anchor=\"middle\">" + escape_xml(c->better) + "</text>\n";
  int step = std::max(1, (hi - lo + most_x_ticks - 2) / (most_x_ticks - 1));
  for (int power = lo; power <= hi; power += step) {
    double x = x_left + (x_right - x_left) * (power - lo) / (hi - lo);
    *out += "<line class=\"grid\" x1=\"" + num(x) + "\" y1=\"" + num(top) + "\" x2=\"" + num(x) + "\" y2=\"" +
            num(bottom) + "\"/>\n<text class=\"tick\" x=\"" + num(x) + "\" y=\"" + num(bottom + 16) +
            "\" text-anchor=\"middle\">" + format_size(std::ldexp(1.0, power)) + "</text>\n";
  }
  *out += y_ticks;
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
  std::string y_ticks;
  int y_tick_count = (int)std::lround(s.y_top / s.y_step);
  for (int i = 0; i <= y_tick_count; ++i)
    write_y_tick(bottom - (bottom - plot_top) * i / y_tick_count, format_general(i * s.y_step, 6), "grid",
                 left, right, &y_ticks);
  write_axes(c, s.lo, s.hi, 0, y_ticks, left, right, bottom, out);
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
        *out += "<path class=\"point off-scale\" d=\"M" + cx + " " + num(place_y(p.y) - 5) +
                "l4.5 8h-9z\" fill=\"" + fill + "\"><title>" + escape_xml(p.tip) +
                " (above the scale)</title></path>\n";
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
              "\" r=\"8\" fill=\"none\"><title>peak: " + escape_xml(p.tip) +
              "</title></circle>\n<text class=\"peak-label\" x=\"" + num(place_x(p.x)) + "\" y=\"" +
              num(place_y(p.y) - 12) + "\" text-anchor=\"middle\" fill=\"" + series.colour +
              "\" stroke=\"none\">peak</text>\n";
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
  return label + ": " + what + " (median of " + count_of(row->runs, "run") + "; " + low + " to " + high +
         ")" + (row->failed_reads ? ", some reads failed or short" : "");
}

static const char *drive_colour(size_t index) {
  return palette[index % (sizeof palette / sizeof palette[0])];
}

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
      series->points.push_back(
          {row.bytes_per_read, std::min(row.median_mib_per_s, largest_value),
           std::min(row.min_mib_per_s, largest_value), std::min(row.max_mib_per_s, largest_value),
           row.us.empty() || row.coarse, row.failed_reads,
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
    series->points.push_back({range_bytes, row.median_us, row.min_us, row.max_us, row.coarse,
                              row.failed_reads,
                              point_tip(label, what, only ? &only->random.rows[i] : nullptr, &row,
                                        format_fixed(row.min_us, 1), format_fixed(row.max_us, 1))});
  }
}

// The third chart, the time of one read: per random row of each drive with
// read times, a box from p25 to p75 with the median across it, whiskers from
// p10 to p90, and p99 and the longest above, on a logarithmic time axis.
constexpr double times_chart_height = 420;
constexpr double times_plot_right = 170;  // room for the key
constexpr double widest_box = 18;
// blockmeter prints times to 0.1 us: one printed as 0.0 is drawn there.
constexpr double shortest_time_us = 0.1;

struct time_box {
  double x;                                     // the range in bytes
  std::array<double, read_time_count> us;       // each time, the median over runs
  double p50_low, p50_high, p99_low, p99_high;  // the runs' smallest and largest p50 and p99
  bool failed;
  std::string tip;
};

static double time_on_scale(double us) { return std::clamp(us, shortest_time_us, largest_value); }

// A drive's boxes, one per random row with read times, in table order.
static void make_time_boxes(const chart_drive *entry, std::vector<time_box> *boxes) {
  boxes->clear();
  const drive_group *group = entry->group;
  const report_drive *drive = group->runs[0].drive;
  std::vector<run_row> rows;
  std::string problem;
  pair_runs(group, true, &rows, &problem);
  for (const run_row &row : rows) {
    double range_bytes = bytes_of_blocks(row.first, drive->block_size);
    if (row.timed_runs == 0 || range_bytes <= 0) continue;
    time_box box = {range_bytes,
                    {},
                    time_on_scale(row.min_read_us[read_p50]),
                    time_on_scale(row.max_read_us[read_p50]),
                    time_on_scale(row.min_read_us[read_p99]),
                    time_on_scale(row.max_read_us[read_p99]),
                    row.failed_reads,
                    ""};
    for (int t = 0; t < read_time_count; ++t) box.us[t] = time_on_scale(row.median_read_us[t]);
    auto time = [&](int t) { return read_time_text(row.median_read_us[t], &rich_symbols); };
    box.tip = entry->label + ": range " + format_size(range_bytes) + ": p10 " + time(read_p10) + ", p25 " +
              time(read_p25) + ", median " + time(read_p50) + ", p75 " + time(read_p75) + ", p90 " +
              time(read_p90) + ", p99 " + time(read_p99) + ", max " + time(read_max) + "; first read " +
              time(read_first);
    if (group->runs.size() > 1)
      box.tip += " (medians of " + count_of(row.timed_runs, "run") + "; median " +
                 read_time_text(row.min_read_us[read_p50], &rich_symbols) + " to " +
                 read_time_text(row.max_read_us[read_p50], &rich_symbols) + ", p99 " +
                 read_time_text(row.min_read_us[read_p99], &rich_symbols) + " to " +
                 read_time_text(row.max_read_us[read_p99], &rich_symbols) + " over them)";
    if (row.failed_reads) box.tip += ", some reads failed or short";
    boxes->push_back(std::move(box));
  }
}

// Whether any drive has a box: without one, the chart is left out.
static bool has_time_boxes(const std::vector<chart_drive> *drives) {
  std::vector<time_box> boxes;
  for (const chart_drive &entry : *drives) {
    make_time_boxes(&entry, &boxes);
    if (!boxes.empty()) return true;
  }
  return false;
}

// "100 µs", "2 ms", "1 s": a tick of the time axis.
static std::string time_tick_label(double us) {
  if (us < 1000) return format_general(us, 3) + " \xc2\xb5s";
  if (us < 1e6) return format_general(us / 1000, 3) + " ms";
  return format_general(us / 1e6, 3) + " s";
}

// What the marks of a box stand for, drawn as one in the margin at x.
static void write_time_key(double x, bool banded, std::string *out) {
  const double top = plot_top + 12, mid = x + 10, w = 14;
  const struct {
    const char *label;
    double y;
  } marks[] = {{"max", top},         {"p99", top + 22},  {"p90", top + 46}, {"p75", top + 70},
               {"median", top + 90}, {"p25", top + 110}, {"p10", top + 134}};
  auto y = [&](int i) { return num(marks[i].y); };
  *out += "<g class=\"key\" stroke=\"#555\">\n<line class=\"tail\" x1=\"" + num(mid) + "\" y1=\"" + y(0) +
          "\" x2=\"" + num(mid) + "\" y2=\"" + y(2) + "\"/>\n<line class=\"whisker\" x1=\"" + num(mid) +
          "\" y1=\"" + y(2) + "\" x2=\"" + num(mid) + "\" y2=\"" + y(6) + "\"/>\n";
  for (int i : {2, 6})
    *out += "<line class=\"whisker\" x1=\"" + num(mid - w / 4) + "\" y1=\"" + y(i) + "\" x2=\"" +
            num(mid + w / 4) + "\" y2=\"" + y(i) + "\"/>\n";
  *out += "<rect class=\"iqr\" x=\"" + num(mid - w / 2) + "\" y=\"" + y(3) + "\" width=\"" + num(w) +
          "\" height=\"" + num(marks[5].y - marks[3].y) + "\" fill=\"#555\"/>\n<line class=\"median\" x1=\"" +
          num(mid - w / 2) + "\" y1=\"" + y(4) + "\" x2=\"" + num(mid + w / 2) + "\" y2=\"" + y(4) +
          "\"/>\n<path class=\"p99\" d=\"M" + num(mid) + " " + num(marks[1].y - 4) +
          "l4 4l-4 4l-4 -4z\" fill=\"#555\"/>\n<circle class=\"max\" cx=\"" + num(mid) + "\" cy=\"" + y(0) +
          "\" r=\"3\" fill=\"#ffffff\"/>\n";
  for (const auto &mark : marks)
    *out += "<text class=\"key-label\" x=\"" + num(x + 26) + "\" y=\"" + num(mark.y + 4) +
            "\" stroke=\"none\">" + mark.label + "</text>\n";
  double below = marks[6].y + 30;
  *out += "<text class=\"key-label\" x=\"" + num(x) + "\" y=\"" + num(below) +
          "\" stroke=\"none\">one box per range:</text>\n<text class=\"key-label\" x=\"" + num(x) +
          "\" y=\"" + num(below + 15) + "\" stroke=\"none\">the times of its reads</text>\n";
  if (banded)
    *out += "<rect class=\"band\" x=\"" + num(x) + "\" y=\"" + num(below + 30) +
            "\" width=\"14\" height=\"24\" fill=\"#555\"/>\n<text class=\"key-label\" x=\"" + num(x + 20) +
            "\" y=\"" + num(below + 40) +
            "\" stroke=\"none\">runs' smallest to</text>\n<text class=\"key-label\" x=\"" + num(x + 20) +
            "\" y=\"" + num(below + 55) + "\" stroke=\"none\">largest median, p99</text>\n";
  *out += "</g>\n";
}

// One box, centred at cx and w wide, its times placed by place_y.
template <typename Place>
static void write_time_box(const time_box *box, double cx, double w, const char *colour, Place place_y,
                           std::string *out) {
  auto y = [&](int t) { return num(place_y(box->us[t])); };
  std::string x = num(cx), left = num(cx - w / 2), right = num(cx + w / 2);
  *out += "<g class=\"box\"><title>" + escape_xml(box->tip) + "</title>\n<line class=\"tail\" x1=\"" + x +
          "\" y1=\"" + y(read_p90) + "\" x2=\"" + x + "\" y2=\"" + y(read_max) + "\"/>\n";
  for (auto [from, to] : {std::pair{read_p90, read_p75}, std::pair{read_p25, read_p10}})
    *out += "<line class=\"whisker\" x1=\"" + x + "\" y1=\"" + y(from) + "\" x2=\"" + x + "\" y2=\"" + y(to) +
            "\"/>\n";
  for (int t : {read_p10, read_p90})
    *out += "<line class=\"whisker\" x1=\"" + num(cx - w / 4) + "\" y1=\"" + y(t) + "\" x2=\"" +
            num(cx + w / 4) + "\" y2=\"" + y(t) + "\"/>\n";
  *out += "<rect class=\"iqr\" x=\"" + left + "\" y=\"" + y(read_p75) + "\" width=\"" + num(w) +
          "\" height=\"" + num(place_y(box->us[read_p25]) - place_y(box->us[read_p75])) + "\" fill=\"" +
          colour + "\"/>\n<line class=\"median\" x1=\"" + left + "\" y1=\"" + y(read_p50) + "\" x2=\"" +
          right + "\" y2=\"" + y(read_p50) + "\"/>\n<path class=\"p99\" d=\"M" + x + " " +
          num(place_y(box->us[read_p99]) - 4) + "l4 4l-4 4l-4 -4z\" fill=\"" + colour +
          "\"/>\n<circle class=\"max\" cx=\"" + x + "\" cy=\"" + y(read_max) +
          "\" r=\"3\" fill=\"#ffffff\"/>\n";
  if (box->failed)
    *out += "<path class=\"failed\" d=\"M" + num(cx - 6) + " " + num(place_y(box->us[read_p50]) - 6) +
            "l12 12m0 -12l-12 12\"/>\n";
  *out += "</g>\n";
}

static int write_time_chart(const std::vector<chart_drive> *drives, double y0, report_sink *sink,
                            std::string *why) {
  std::string *out = &sink->text;
  // The scales, and which drives have boxes: they alone share each range's
  // room, side by side.
  double x_min = INFINITY, x_max = 0, y_min = INFINITY, y_max = 0;
  std::vector<int> place(drives->size(), -1);
  int boxed = 0;
  bool banded = false;
  std::vector<time_box> boxes;
  for (size_t i = 0; i < drives->size(); ++i) {
    make_time_boxes(&(*drives)[i], &boxes);
    if (boxes.empty()) continue;
    place[i] = boxed++;
    banded = banded || ((*drives)[i].group->runs.size() > 1 && boxes.size() > 1);
    for (const time_box &box : boxes) {
      x_min = std::min(x_min, box.x), x_max = std::max(x_max, box.x);
      y_min = std::min({y_min, box.us[read_p10], box.p50_low}),
      y_max = std::max({y_max, box.us[read_max], box.p99_high});
    }
  }
  int lo = (int)std::floor(std::log2(x_min)), hi = (int)std::ceil(std::log2(x_max));
  if (hi <= lo) hi = lo + 1;
  int y_lo = (int)std::floor(std::log10(y_min)), y_hi = (int)std::ceil(std::log10(y_max));
  if (y_hi <= y_lo) y_hi = y_lo + 1;
  double left = plot_left, right = 2 * chart_width - times_plot_right,
         bottom = times_chart_height - plot_bottom;
  // Half a step of x inside the frame at each end, so that the boxes at the
  // ends are whole.
  double pad = (right - left) / (hi - lo + 1) / 2;
  auto place_x = [&](double x) {
    return left + pad + (right - left - 2 * pad) * (std::log2(x) - lo) / (hi - lo);
  };
  auto place_y = [&](double us) {
    return bottom - (bottom - plot_top) * (std::log10(time_on_scale(us)) - y_lo) / (y_hi - y_lo);
  };
  std::string y_ticks;
  // Every decade labelled; the 2s and 5s too where there are few decades.
  for (int power = y_lo; power <= y_hi; ++power)
    for (int step = 1; step <= (power < y_hi ? 9 : 1); ++step) {
      double us = step * std::pow(10.0, power);
      bool labelled = step == 1 || ((step == 2 || step == 5) && y_hi - y_lo <= 3);
      write_y_tick(place_y(us), labelled ? time_tick_label(us) : "", step == 1 ? "grid" : "grid minor", left,
                   right, &y_ticks);
    }
  chart c = {"read-time-chart",
             "Time of one read",
             "random reads of one block: each range's spread of read times; lower is better",
             "range read across, in bytes: the seek distance (log\xe2\x82\x82 scale)",
             "time of one read (log\xe2\x82\x81\xe2\x82\x80 scale)",
             true,
             drives};
  *out += "<g class=\"chart\" id=\"read-time-chart\" transform=\"translate(0 " + num(y0) + ")\">\n";
  write_axes(&c, lo, hi, pad, y_ticks, left, right, bottom, out);
  // A halving of the range is one step of x: its room is split among the
  // drives with boxes.
  double step_width = 2 * pad, share = 0.8 * step_width / boxed;
  double width = std::min(widest_box, 0.75 * share);
  for (size_t i = 0; i < drives->size(); ++i) {
    const char *colour = drive_colour(i);
    *out += "<g class=\"drive\" stroke=\"" + std::string(colour) + "\">\n<title>" +
            escape_xml((*drives)[i].label) + "</title>\n";
    make_time_boxes(&(*drives)[i], &boxes);
    double offset = place[i] < 0 ? 0 : (place[i] - (boxed - 1) / 2.0) * share;
    auto centre = [&](const time_box &box) { return place_x(box.x) + offset; };
    if ((*drives)[i].group->runs.size() > 1 && boxes.size() > 1) {
      std::vector<const time_box *> sorted;
      for (const time_box &box : boxes) sorted.push_back(&box);
      std::stable_sort(sorted.begin(), sorted.end(),
                       [](const time_box *a, const time_box *b) { return a->x < b->x; });
      for (auto [low, high] : {std::pair{&time_box::p50_low, &time_box::p50_high},
                               std::pair{&time_box::p99_low, &time_box::p99_high}}) {
        *out += "<polygon class=\"band\" fill=\"" + std::string(colour) + "\" points=\"";
        for (const time_box *box : sorted) *out += num(centre(*box)) + "," + num(place_y(box->*high)) + " ";
        for (auto box = sorted.rbegin(); box != sorted.rend(); ++box)
          *out += num(centre(**box)) + "," + num(place_y((*box)->*low)) + " ";
        out->back() = '"';
        *out += "/>\n";
      }
    }
    for (const time_box &box : boxes) write_time_box(&box, centre(box), width, colour, place_y, out);
    *out += "</g>\n";
    if (drain_sink(sink, false, why) != 0) return -1;
  }
  write_time_key(right + 24, banded, out);
  *out += "</g>\n";
  return 0;
}

static std::string legend_text(const chart_drive *entry, std::string *tip) {
  std::string text = entry->label;
  std::vector<std::string> devices = group_devices(entry->group), warnings = group_warnings(entry->group);
  *tip = entry->label;
  for (const std::string &device : devices) {
    std::string shown = device.size() > longest_legend_device
                            ? device.substr(0, longest_legend_device) + "\xe2\x80\xa6"
                            : device;
    text += " \xe2\x80\x94 " + shown;
    *tip += "\nreading " + device;
  }
  if (!warnings.empty())
    text = "\xe2\x9a\xa0 " + text + " (blockmeter warned: its figures may not be the device's)";
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
  std::string random_title =
      "Random reads of one block" +
      (block_size > 0 ? " (" + format_size((double)block_size) + ")" : std::string(" each"));
  chart sequential = {"sequential-chart",
                      "Sequential reads",
                      "higher is better",
                      "bytes per read (log\xe2\x82\x82 scale)",
                      "MiB/s",
                      false,
                      drives};
  chart random = {"random-chart",
                  random_title.c_str(),
                  "lower is better",
                  "range read across, in bytes: the seek distance (log\xe2\x82\x82 scale)",
                  "\xc2\xb5s per read",
                  true,
                  drives};
  std::string *text = &out->text;
  bool timed = has_time_boxes(drives);
  double legend_top = chart_height + (timed ? times_chart_height : 0);
  double height = legend_top + legend_line * (double)(drives->size() + 2 + (banded ? 1 : 0));
  std::string size = "width=\"" + num(2 * chart_width) + "\" height=\"" + num(height) + "\" viewBox=\"0 0 " +
                     num(2 * chart_width) + " " + num(height) + "\"";
  if (standalone) *text += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  *text += "<svg " + std::string(standalone ? "xmlns=\"http://www.w3.org/2000/svg\" " : "") + size +
           " font-family=\"sans-serif\" font-size=\"12\" class=\"blockmeter-charts\">\n"
           "<title>blockmeter: sequential and random reads</title>\n"
           "<style>.grid{stroke:#e0e0e0}.frame{fill:none;stroke:#555}.chart-title{font-size:15px;"
           "font-weight:bold}.better{font-size:12px;fill:#555}.axis-title{font-size:13px}.tick{fill:#333}"
           ".curve{fill:none;stroke-width:1.5}.band{stroke:none;fill-opacity:0.18}.point{stroke-width:1.5}"
           ".peak{stroke-width:1.5}.peak-label{font-size:11px}.failed{stroke:#000;stroke-width:1.5}" +
           std::string(timed ? ".minor{stroke:#f2f2f2}.iqr{fill-opacity:0.3;stroke-width:1.5}"
                               ".median{stroke-width:2.5}.whisker{stroke-width:1.2}"
                               ".tail{stroke-width:1;stroke-dasharray:2 2}.p99{stroke-width:1}"
                               ".max{stroke-width:1.5}.key-label{font-size:12px;fill:#333}"
                             : "") +
           "</style>\n"
           "<rect x=\"0\" y=\"0\" width=\"" +
           num(2 * chart_width) + "\" height=\"" + num(height) + "\" fill=\"#ffffff\"/>\n";
  if (write_chart(&sequential, 0, out, why) != 0 || write_chart(&random, chart_width, out, why) != 0 ||
      (timed && write_time_chart(drives, chart_height, out, why) != 0) || drain_sink(out, false, why) != 0)
    return -1;

  *text += "<g class=\"legend\">\n";
  double y = legend_top;
  for (const chart_drive &entry : *drives) {
    const char *colour = drive_colour((size_t)(&entry - drives->data()));
    std::string tip, shown = legend_text(&entry, &tip);
    *text += "<g class=\"legend-drive\"><title>" + escape_xml(tip) + "</title><line x1=\"" + num(plot_left) +
             "\" y1=\"" + num(y - 4) + "\" x2=\"" + num(plot_left + 30) + "\" y2=\"" + num(y - 4) +
             "\" stroke=\"" + colour + "\" stroke-width=\"2.5\"/>\n<text x=\"" + num(plot_left + 38) +
             "\" y=\"" + num(y) + "\">" + escape_xml(shown) + "</text></g>\n";
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
