#include <algorithm>
#include <cmath>

#include "figures.h"
#include "output.h"

// Layout, in SVG user units: two charts side by side, the legend below.
constexpr double chart_width = 500;
constexpr double chart_height = 360;
constexpr double plot_left = 78, plot_right = 32, plot_top = 44, plot_bottom = 62;
constexpr double legend_line = 20;
constexpr int most_x_ticks = 9;
constexpr int y_tick_target = 5;
constexpr double marker_radius = 3.5;

static const char *const palette[] = {"#1f77b4", "#d62728", "#2ca02c", "#ff7f0e",
                                      "#9467bd", "#8c564b", "#e377c2", "#17becf"};

struct chart_point {
  double x, y;
  bool hollow;  // coarse, or no reads: not a measurement to trust
  bool failed;  // failed or short reads
  std::string tip;
};

struct chart_series {
  const char *colour;
  std::string label;
  std::vector<chart_point> points;
};

struct chart {
  const char *id, *title, *x_title, *y_title;
  std::vector<chart_series> series;
};

// The scales: x from 2^lo to 2^hi, y from 0 to y_top in steps of y_step.
struct chart_scale {
  int lo, hi;
  double y_top, y_step;
};

static std::string num(double value) { return format_fixed(value, 1); }

// A round step (1, 2 or 5 times a power of ten) that divides 0..max into
// about y_tick_target parts.
static double round_step(double max) {
  double raw = max / y_tick_target;
  double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double factor : {1.0, 2.0, 5.0})
    if (raw <= factor * power) return factor * power;
  return 10 * power;
}

static chart_scale scale_chart(const chart *c) {
  double x_min = INFINITY, x_max = 0, y_max = 0;
  for (const chart_series &series : c->series)
    for (const chart_point &p : series.points) {
      x_min = std::min(x_min, p.x), x_max = std::max(x_max, p.x);
      y_max = std::max(y_max, p.y);
    }
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
  *out += "<text class=\"chart-title\" x=\"" + num(mid_x) + "\" y=\"24\" text-anchor=\"middle\">" +
          escape_xml(c->title) + "</text>\n";
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
    char label[64];
    snprintf(label, sizeof label, "%g", value);
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

static void write_chart(const chart *c, double x0, std::string *out) {
  chart_scale s = scale_chart(c);
  double left = x0 + plot_left, right = x0 + chart_width - plot_right, bottom = chart_height - plot_bottom;
  *out += "<g class=\"chart\" id=\"" + std::string(c->id) + "\">\n";
  write_axes(c, &s, left, right, bottom, out);
  auto place_x = [&](double x) { return left + (right - left) * (std::log2(x) - s.lo) / (s.hi - s.lo); };
  auto place_y = [&](double y) { return bottom - (bottom - plot_top) * y / s.y_top; };
  size_t points = 0;
  for (const chart_series &series : c->series) {
    *out += "<g class=\"drive\" stroke=\"" + std::string(series.colour) + "\">\n<title>" +
            escape_xml(series.label) + "</title>\n";
    std::vector<chart_point> sorted = series.points;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const chart_point &a, const chart_point &b) { return a.x < b.x; });
    if (sorted.size() > 1) {
      *out += "<polyline class=\"curve\" points=\"";
      for (const chart_point &p : sorted) *out += num(place_x(p.x)) + "," + num(place_y(p.y)) + " ";
      out->back() = '"';
      *out += "/>\n";
    }
    for (const chart_point &p : series.points) {
      std::string cx = num(place_x(p.x)), cy = num(place_y(p.y));
      *out += "<circle class=\"point\" cx=\"" + cx + "\" cy=\"" + cy + "\" r=\"" + num(marker_radius) +
              "\" fill=\"" + (p.hollow ? std::string("#ffffff") : std::string(series.colour)) + "\"><title>" +
              escape_xml(p.tip) + "</title></circle>\n";
      if (p.failed)
        *out += "<path class=\"failed\" d=\"M" + num(place_x(p.x) - 6) + " " + num(place_y(p.y) - 6) +
                "l12 12m0 -12l-12 12\"/>\n";
    }
    points += series.points.size();
    *out += "</g>\n";
  }
  if (points == 0)
    *out += "<text class=\"tick\" x=\"" + num((left + right) / 2) + "\" y=\"" + num((plot_top + bottom) / 2) +
            "\" text-anchor=\"middle\">no rows</text>\n";
  *out += "</g>\n";
}

static std::string point_tip(const std::string &label, const std::string &what, const report_row *row) {
  return label + ": " + what + ", " + std::to_string(row->reads) + " reads in " + std::to_string(row->ms) +
         " ms" + (row->failed_reads ? ", some failed or short" : "");
}

// The two charts' series: one per drive, one point per row. A sequential row
// is placed at its printed speed, even with no reads (its speed is then 0); a
// random row needs reads to have a time.
static void make_charts(const std::vector<report_input> *inputs, chart *sequential, chart *random) {
  size_t drive_index = 0;
  for (const report_input &input : *inputs)
    for (const report_drive &drive : input.drives) {
      std::string label = drive_label(inputs, &input, &drive);
      const char *colour = palette[drive_index++ % (sizeof palette / sizeof palette[0])];
      chart_series seq = {colour, label, {}}, rnd = {colour, label, {}};
      for (const report_row &row : drive.sequential.rows) {
        row_figures f;
        derive_row(&drive, &row, false, &f);
        if (f.bytes_per_read <= 0) continue;  // "0 blocks per read": nowhere on a log scale
        seq.points.push_back(
            {f.bytes_per_read, row.mib_per_s, !f.measured || f.coarse, row.failed_reads,
             point_tip(label, format_size(f.bytes_per_read) + " per read, " + row.mib_per_s_text + " MiB/s",
                       &row)});
      }
      for (const report_row &row : drive.random.rows) {
        row_figures f;
        derive_row(&drive, &row, true, &f);
        double range_bytes = (double)row.first * (double)drive.block_size;
        if (!f.measured || range_bytes <= 0) continue;
        rnd.points.push_back({range_bytes, f.us_per_read, f.coarse, row.failed_reads,
                              point_tip(label,
                                        "range " + format_size(range_bytes) + ", " +
                                            format_fixed(f.us_per_read, 1) + " \xc2\xb5s per read",
                                        &row)});
      }
      sequential->series.push_back(seq);
      random->series.push_back(rnd);
    }
}

void write_svg(const std::vector<report_input> *inputs, bool standalone, std::string *out) {
  chart sequential = {
      "sequential-chart", "Sequential reads", "bytes per read (log\xe2\x82\x82 scale)", "MiB/s", {}};
  chart random = {"random-chart",
                  "Random single-block reads",
                  "range read across, in bytes: the seek distance (log\xe2\x82\x82 scale)",
                  "\xc2\xb5s per read",
                  {}};
  make_charts(inputs, &sequential, &random);
  size_t drives = sequential.series.size();
  double height = chart_height + legend_line * (double)(drives + 2);
  std::string size = "width=\"" + num(2 * chart_width) + "\" height=\"" + num(height) + "\" viewBox=\"0 0 " +
                     num(2 * chart_width) + " " + num(height) + "\"";
  if (standalone) *out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  *out += "<svg " + std::string(standalone ? "xmlns=\"http://www.w3.org/2000/svg\" " : "") + size +
          " font-family=\"sans-serif\" font-size=\"12\" class=\"blockmeter-charts\">\n"
          "<title>blockmeter: sequential and random reads</title>\n"
          "<style>.grid{stroke:#e0e0e0}.frame{fill:none;stroke:#555}.chart-title{font-size:15px;"
          "font-weight:bold}.axis-title{font-size:13px}.tick{fill:#333}.curve{fill:none;stroke-width:1.5}"
          ".point{stroke-width:1.5}.failed{stroke:#000;stroke-width:1.5}</style>\n"
          "<rect x=\"0\" y=\"0\" width=\"" +
          num(2 * chart_width) + "\" height=\"" + num(height) + "\" fill=\"#ffffff\"/>\n";
  write_chart(&sequential, 0, out);
  write_chart(&random, chart_width, out);

  *out += "<g class=\"legend\">\n";
  double y = chart_height;
  for (const chart_series &series : sequential.series) {
    *out += "<line x1=\"" + num(plot_left) + "\" y1=\"" + num(y - 4) + "\" x2=\"" + num(plot_left + 30) +
            "\" y2=\"" + num(y - 4) + "\" stroke=\"" + series.colour +
            "\" stroke-width=\"2.5\"/>\n<text x=\"" + num(plot_left + 38) + "\" y=\"" + num(y) + "\">" +
            escape_xml(series.label) + "</text>\n";
    y += legend_line;
  }
  *out += "<text x=\"" + num(plot_left) + "\" y=\"" + num(y + 4) + "\">\xe2\x97\x8f a row of " +
          std::to_string(coarse_below_ms) +
          " ms or more; \xe2\x97\x8b a shorter row (coarse: the 1 ms tick is over 1 % of its time); "
          "\xc3\x97 some of its reads failed or came back short</text>\n</g>\n</svg>\n";
}
