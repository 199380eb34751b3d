// The comparison in each of the report's forms.
#include "output_compare.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "compare.h"
#include "escape.h"
#include "figures.h"
#include "flags.h"
#include "html_page.h"
#include "numbers.h"
#include "terminal_text.h"
#include "wording.h"

// What each side's value of a row is, by the metric compared: a column's
// head ("us/read", "p99 us") and its words in the key below the tables.
static std::string value_head(const comparison *c, const text_symbols *symbols) {
  if (c->base->metric == metric_mean) return std::string(symbols->us) + "/read";
  return std::string(metric_name(c->base->metric)) + " " + symbols->us;
}

static std::string value_words(row_metric metric) {
  if (metric == metric_mean) return "each run's time per read (the row's time over its reads)";
  return std::string("each run's ") + (metric == metric_p50 ? "median" : "99th percentile") +
         " of the times of the row's single reads, as blockmeter printed them";
}

static std::string side_text(const compare_side *side) {
  const report_drive *drive = side->group.runs[0].drive;
  return side->input->name + ": drive " + drive->root + ", " +
         count_of((int64_t)side->group.runs.size(), "run");
}

// How a row is named: by its bytes, with each side's blocks where the two
// drives' blocks differ.
static std::string row_label(const comparison *c, const compared_row *row, bool random) {
  std::string blocks;
  if (c->block_sizes_differ) {
    if (row->base != nullptr) blocks = "base " + count_of(row->base->first, "block");
    if (row->other != nullptr)
      blocks +=
          std::string(blocks.empty() ? "new " : ", new ") +
          (row->base != nullptr ? std::to_string(row->other->first) : count_of(row->other->first, "block"));
    blocks = " (" + blocks + ")";
  }
  if (random) return "range " + format_size(row->bytes) + blocks;
  if (c->block_sizes_differ) return format_size(row->bytes) + blocks;
  const run_row *side = row->base != nullptr ? row->base : row->other;
  return count_of(side->first, "block") + " (" + format_size(row->bytes) + ")";
}

// The runs of a side that measured a row; 0 where the side has no such row.
static size_t measured_runs(const run_row *side) { return side == nullptr ? 0 : side->us.size(); }

static std::string side_median_text(const run_row *side, const text_symbols *symbols) {
  return side == nullptr ? "-" : median_text(side, symbols);
}

static std::string runs_text(const compared_row *row) {
  return std::to_string(measured_runs(row->base)) + "+" + std::to_string(measured_runs(row->other));
}

static unsigned compared_flags(const compared_row *row) {
  if (row->base == nullptr || row->other == nullptr) return flag_unpaired;
  return row_flags(row->coarse, row->failed_reads) | (row->medians_disagree ? flag_medians_disagree : 0) |
         (row->too_few_runs ? flag_too_few_runs : 0);
}

// Why a row the test finds different reads ~: its medians point the other way.
static std::string disagreement_note(const comparison *c, const compared_row *row, bool random) {
  return row_label(c, row, random) + ": the rank test finds new " +
         (row->direction > 0 ? "slower" : "faster") + " (p " + format_p(row->p) + "), but new's median is " +
         (row->delta_pct == 0 ? std::string("the same as base's")
                              : format_fixed(std::fabs(row->delta_pct), 1) + " % " +
                                    (row->delta_pct > 0 ? "higher" : "lower")) +
         ": no verdict, shown as ~";
}

static std::string p_text(double p) { return p < 0.001 ? "<0.001" : format_fixed(p, 3); }

static std::string delta_text(const compared_row *row) {
  if (!row->compared) return "-";
  if (row->verdict == verdict_same) return "~";
  return (row->delta_pct > 0 ? "+" : "") + format_fixed(row->delta_pct, 1) + "%";
}

// How the table's permutation test was counted: every split, or a sample.
static std::string splits_text(const permutation_test *test) {
  if (test->exact) return "all " + std::to_string(test->splits) + " splits of the runs";
  return std::to_string(sampled_permutations) + " random splits of the " + format_fixed(test->all_splits, 0) +
         " and the observed one";
}

static std::string geomean_text(const compared_table *table) {
  if (table->geomean_rows == 0)
    return "no rows of " + std::to_string(coarse_below_ms) + " ms or more on both sides in every run";
  double pct = (table->geomean_ratio - 1) * 100;
  return (pct > 0 ? "+" : "") + format_fixed(pct, 1) + "% over " + count_of(table->geomean_rows, "row") +
         " of " + std::to_string(coarse_below_ms) + " ms or more on both sides; overall " +
         verdict_name(table->overall_verdict) + ", p " + format_p(table->overall.p) +
         " (whole runs shuffled: " + splits_text(&table->overall) + ")";
}

std::string reach_note(const comparison *c, double alpha) {
  return "with " + count_of((int64_t)c->base->group.runs.size(), "run") + " and " +
         count_of((int64_t)c->other->group.runs.size(), "run") + " the rank test cannot reach p < " +
         format_shortest(alpha) + " (its smallest p is " + format_p(c->smallest_p) + "), " +
         (c->exact ? "counted exactly" : "by its normal approximation") +
         ", so every row reads ~; make 5 or more runs a side";
}

std::string pairing_note(const comparison *c) {
  std::string note;
  if (c->block_sizes_differ)
    note = "base reads blocks of " + format_size((double)side_block_size(c->base)) + " and new of " +
           format_size((double)side_block_size(c->other)) +
           ": sequential rows are paired by bytes per read, random rows by the range in bytes";
  for (const compared_table *table : {&c->sequential, &c->random}) {
    if (table->unpaired_base == 0 && table->unpaired_other == 0) continue;
    note += std::string(note.empty() ? "" : "; ") + (table == &c->random ? "random" : "sequential") +
            " table: " + std::to_string(table->unpaired_base) + " of base's " +
            std::to_string(table->base_rows) + " rows and " + std::to_string(table->unpaired_other) +
            " of new's " + std::to_string(table->other_rows) + " have no row of the same " +
            (table == &c->random ? "range" : "bytes per read") +
            " on the other side: listed as unpaired, not compared";
  }
  return note;
}

std::string metric_note(const comparison *c) {
  row_metric metric = c->base->metric;
  int base = c->base->rows_without_value, other = c->other->rows_without_value;
  if (metric == metric_mean || base + other == 0) return "";
  return std::string("compared by ") + metric_name(metric) + ", but blockmeter printed no read times for " +
         count_of(base, "row") + " of base's runs and " + count_of(other, "row") +
         " of new's: each such row is compared over the runs that have them";
}

static void write_table_text(const comparison *c, bool random, std::string *out) {
  const compared_table *table = random ? &c->random : &c->sequential;
  std::string head = value_head(c, &plain_symbols);
  std::vector<std::vector<std::string>> rows = {{random ? "random reads" : "sequential reads", "base " + head,
                                                 "new " + head, "delta", "p", "runs", ""}};
  for (const compared_row &row : table->rows)
    rows.push_back({row_label(c, &row, random), side_median_text(row.base, &plain_symbols),
                    side_median_text(row.other, &plain_symbols), delta_text(&row),
                    row.compared ? p_text(row.p) : "-", runs_text(&row), flag_text(compared_flags(&row))});
  write_columns(&rows, "", out);
  for (const compared_row &row : table->rows)
    if (row.medians_disagree) *out += "note: " + disagreement_note(c, &row, random) + "\n";
  *out += "geomean: " + geomean_text(table) + "\n";
}

int write_compare_text(const std::vector<comparison> *comparisons, double alpha, report_sink *out,
                       std::string *why) {
  std::string *text = &out->text;
  if (comparisons->empty()) return 0;
  // A side blockmeter warned of may not show its device's speed: said above
  // its tables, as the summary says it above a drive's figures.
  auto warn = [text](const compare_side *side) {
    for (const std::string &warning : group_warnings(&side->group))
      *text += "warning: " + terminal_text(warning) + "\n";
  };
  const comparison *first = &(*comparisons)[0];
  row_metric metric = first->base->metric;
  *text += "base: " + terminal_text(side_text(first->base)) + "\n";
  if (metric != metric_mean)
    *text += std::string("compared by ") + metric_name(metric) + ": " + value_words(metric) + "\n";
  warn(first->base);
  for (const comparison &c : *comparisons) {
    *text += "\nnew:  " + terminal_text(side_text(c.other)) + "\n";
    warn(c.other);
    if (!c.can_reach_alpha) *text += "note: " + reach_note(&c, alpha) + "\n";
    for (const std::string &note : {pairing_note(&c), metric_note(&c)})
      if (!note.empty()) *text += "note: " + note + "\n";
    *text += "\n";
    write_table_text(&c, false, text);
    *text += "\n";
    write_table_text(&c, true, text);
    if (drain_sink(out, false, why) != 0) return -1;
  }
  std::string key = metric == metric_mean ? "us/read: the median time per read over the runs"
                                          : value_head(first, &plain_symbols) +
                                                ": the median over the runs of " + value_words(metric);
  *text +=
      "\n" + key +
      ", +- the larger distance from it to the smallest or "
      "largest run, in % of it.\ndelta: new's median against base's (+: new is slower per read); ~: no "
      "difference the Mann-Whitney U test (two-sided) can tell from noise at p < " +
      format_shortest(alpha) + ".\nruns: base+new runs that measured the row; coarse: under " +
      std::to_string(coarse_below_ms) +
      " ms in some run, where the 1 ms tick is over 1 % of the time; unpaired: a row whose bytes the other "
      "side did not read, not compared; medians-disagree: the test finds a difference one way while the "
      "medians move the other way, so no verdict; too-few-runs: fewer runs measured the row (one cut short) "
      "than "
      "the test needs to reach p < " +
      format_shortest(alpha) +
      ".\ngeomean: new's medians against base's over the rows every run measured in 100 ms or more; overall: "
      "whether new's runs as a whole are slower or faster, by a permutation test that shuffles whole runs "
      "between the sides (one p for the table, its false alarms at the rate alpha asks).\n";
  return 0;
}

int write_compare_csv(const std::vector<comparison> *comparisons, double, report_sink *out,
                      std::string *why) {
  out->text +=
      "file,test,blocks_per_read,range_blocks,base_runs,base_us_per_read,base_min_us,base_max_us,runs,us_per_"
      "read,"
      "min_us,max_us,delta_pct,p_value,verdict,flags,bytes_per_read,range_bytes,base_file,base_root,"
      "metric\r\n";
  for (const comparison &c : *comparisons) {
    // Every row of a comparison with a side blockmeter warned of, as the
    // plain CSV flags every row of such a drive.
    unsigned suspect =
        group_warnings(&c.base->group).empty() && group_warnings(&c.other->group).empty() ? 0 : flag_suspect;
    for (bool random : {false, true})
      for (const compared_row &row : (random ? c.random : c.sequential).rows) {
        std::string flags = flag_text(compared_flags(&row) | suspect);
        auto stat = [](const run_row *side, double run_row::*value) {
          return side == nullptr || side->us.empty() ? std::string() : format_exact(side->*value);
        };
        // BASE's blocks and range, or NEW's where only NEW has the row.
        const run_row *named = row.base != nullptr ? row.base : row.other;
        bool paired = row.base != nullptr && row.other != nullptr;
        // The bytes of one read, where both sides read the same (a random
        // read is one block of each side's drive).
        double read_bytes = named->bytes_per_read;
        bool one_read_size = !paired || row.other->bytes_per_read == read_bytes;
        std::string fields[] = {csv_field(c.other->input->name),
                                random ? "random" : "sequential",
                                random ? "1" : std::to_string(named->first),
                                random ? std::to_string(named->first) : "",
                                std::to_string(measured_runs(row.base)),
                                stat(row.base, &run_row::median_us),
                                stat(row.base, &run_row::min_us),
                                stat(row.base, &run_row::max_us),
                                std::to_string(measured_runs(row.other)),
                                stat(row.other, &run_row::median_us),
                                stat(row.other, &run_row::min_us),
                                stat(row.other, &run_row::max_us),
                                row.compared ? format_exact(row.delta_pct) : "",
                                row.compared ? format_shortest(row.p) : "",
                                paired ? verdict_name(row.verdict) : "",
                                csv_field(flags),
                                one_read_size ? format_exact(read_bytes) : "",
                                random ? format_exact(row.bytes) : "",
                                csv_field(c.base->input->name),
                                csv_field(c.base->group.runs[0].drive->root),
                                metric_name(c.base->metric)};
        for (const std::string &field : fields)
          out->text += field + (&field == &std::end(fields)[-1] ? "\r\n" : ",");
        if (drain_sink(out, false, why) != 0) return -1;
      }
  }
  return 0;
}

using json = nlohmann::ordered_json;

static json side_json(const compare_side *side) {
  const report_drive *drive = side->group.runs[0].drive;
  return {{"file", side->input->name},
          {"root", drive->root},
          {"device", drive->device.empty() ? json(nullptr) : json(drive->device)},
          {"block_size", drive->block_size},
          {"n_blocks", drive->n_blocks},
          {"runs", side->group.runs.size()},
          {"warnings", group_warnings(&side->group)}};
}

static json stats_json(const run_row *side) {
  if (side->us.empty())
    return {{"runs", 0}, {"us_per_read", nullptr}, {"min_us", nullptr}, {"max_us", nullptr}};
  return {{"runs", side->us.size()},
          {"us_per_read", side->median_us},
          {"min_us", side->min_us},
          {"max_us", side->max_us},
          {"spread_pct", spread_pct(side)}};
}

static json table_json(const comparison *c, const compared_table *table, bool random) {
  json rows = json::array();
  for (const compared_row &row : table->rows) {
    json flags = flag_words(compared_flags(&row));
    bool paired = row.base != nullptr && row.other != nullptr;
    auto blocks = [](const run_row *side) { return side == nullptr ? json(nullptr) : json(side->first); };
    json entry;
    if (random) {
      entry["range_bytes"] = row.bytes;
      entry["range_blocks"] = blocks(row.base), entry["other_range_blocks"] = blocks(row.other);
    } else {
      entry["bytes_per_read"] = row.bytes;
      entry["blocks_per_read"] = blocks(row.base), entry["other_blocks_per_read"] = blocks(row.other);
    }
    entry["base"] = row.base == nullptr ? json(nullptr) : stats_json(row.base);
    entry["new"] = row.other == nullptr ? json(nullptr) : stats_json(row.other);
    entry["delta_pct"] = row.compared ? json(row.delta_pct) : json(nullptr);
    entry["p_value"] = row.compared ? json(row.p) : json(nullptr);
    entry["verdict"] = paired ? json(verdict_name(row.verdict)) : json(nullptr);
    entry["flags"] = flags;
    if (row.medians_disagree) entry["note"] = disagreement_note(c, &row, random);
    rows.push_back(entry);
  }
  json geomean = nullptr;
  if (table->geomean_rows > 0)
    geomean = {{"ratio", table->geomean_ratio},
               {"delta_pct", (table->geomean_ratio - 1) * 100},
               {"rows", table->geomean_rows},
               {"p_value", table->overall.p},
               {"verdict", verdict_name(table->overall_verdict)},
               {"exact", table->overall.exact},
               {"splits", table->overall.splits},
               {"all_splits", table->overall.all_splits}};
  return {{"rows", rows}, {"geomean", geomean}};
}

int write_compare_json(const std::vector<comparison> *comparisons, double alpha, report_sink *out,
                       std::string *) {
  json list = json::array();
  for (const comparison &c : *comparisons) {
    std::string pairing = pairing_note(&c), metric = metric_note(&c);
    list.push_back({{"new", side_json(c.other)},
                    {"smallest_p", c.smallest_p},
                    {"can_reach_alpha", c.can_reach_alpha},
                    {"pairing_note", pairing.empty() ? json(nullptr) : json(pairing)},
                    {"metric_note", metric.empty() ? json(nullptr) : json(metric)},
                    {"sequential", table_json(&c, &c.sequential, false)},
                    {"random", table_json(&c, &c.random, true)}});
  }
  row_metric metric = comparisons->empty() ? metric_mean : (*comparisons)[0].base->metric;
  std::string tested = metric == metric_mean ? "us per read"
                                             : std::string("each run's ") + metric_name(metric) +
                                                   " of the times of its reads, in us";
  json document = {{"generator", "blockmeter-report " BLOCKMETER_VERSION},
                   {"metric", metric_name(metric)},
                   {"test", "Mann-Whitney U, two-sided, of " + tested},
                   {"alpha", alpha},
                   {"coarse_below_ms", coarse_below_ms},
                   {"base", comparisons->empty() ? json(nullptr) : side_json((*comparisons)[0].base)},
                   {"comparisons", list}};
  out->text += document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
  return 0;
}

static void compare_chart_drives(const std::vector<comparison> *comparisons,
                                 std::vector<chart_drive> *drives) {
  if (comparisons->empty()) return;
  const compare_side *base = (*comparisons)[0].base;
  drives->push_back({"base: " + side_text(base), &base->group});
  for (const comparison &c : *comparisons) drives->push_back({"new: " + side_text(c.other), &c.other->group});
}

int write_compare_svg(const std::vector<comparison> *comparisons, double, report_sink *out,
                      std::string *why) {
  std::vector<chart_drive> drives;
  compare_chart_drives(comparisons, &drives);
  return write_svg(&drives, true, out, why);
}

static void write_table_html(const comparison *c, bool random, std::string *out) {
  const compared_table *table = random ? &c->random : &c->sequential;
  *out += std::string("<table class=\"comparison ") + (random ? "random" : "sequential") + "\">\n<caption>" +
          (random ? "Random reads" : "Sequential reads") + "</caption>\n<thead>" +
          html_header_row({random ? "range" : "read size", ("base " + value_head(c, &rich_symbols)).c_str(),
                           ("new " + value_head(c, &rich_symbols)).c_str(), "delta", "p", "runs", "verdict",
                           "flags"}) +
          "</thead>\n<tbody>\n";
  for (const compared_row &row : table->rows) {
    std::string flags = flag_text(compared_flags(&row));
    const char *cls = row.verdict == verdict_slower   ? "slower"
                      : row.verdict == verdict_faster ? "faster"
                                                      : nullptr;
    bool paired = row.base != nullptr && row.other != nullptr;
    *out += "<tr>" + html_cell(escape_xml(row_label(c, &row, random)), "text") +
            html_cell(escape_xml(side_median_text(row.base, &rich_symbols))) +
            html_cell(escape_xml(side_median_text(row.other, &rich_symbols))) +
            html_cell(escape_xml(delta_text(&row)), cls) +
            html_cell(row.compared ? escape_xml(p_text(row.p)) : "-") + html_cell(runs_text(&row)) +
            html_cell(paired ? verdict_name(row.verdict) : "-", cls) + html_cell(flags, "text") + "</tr>\n";
  }
  *out += "</tbody>\n</table>\n";
  for (const compared_row &row : table->rows)
    if (row.medians_disagree)
      *out += "<p class=\"note\">" + escape_xml(disagreement_note(c, &row, random)) + ".</p>\n";
  *out += "<p>geometric mean of new / base: " + escape_xml(geomean_text(table)) + "</p>\n";
}

int write_compare_html(const std::vector<comparison> *comparisons, double alpha, report_sink *out,
                       std::string *why) {
  std::string *text = &out->text;
  if (comparisons->empty()) return 0;
  const compare_side *base = (*comparisons)[0].base;
  std::string compared = base->metric == metric_mean
                             ? "the median time per read over the runs"
                             : std::string("the median over the runs of ") + value_words(base->metric) +
                                   " (" + metric_name(base->metric) + ")";
  std::string intro =
      "Each new file's runs against the base's, row by row: " + escape_xml(compared) +
      " with its spread, the change in per cent of the base's, and the p-value of a two-sided "
      "Mann\xe2\x80\x93Whitney U test of the two sides' times; ~ where it cannot tell the change "
      "from noise at p &lt; " +
      format_shortest(alpha) + ". Read by blockmeter-report " BLOCKMETER_VERSION ".";
  start_html_page("blockmeter comparison: " + escape_xml(base->input->name), intro, text);
  std::vector<chart_drive> drives;
  compare_chart_drives(comparisons, &drives);
  if (write_svg(&drives, false, out, why) != 0) return -1;
  for (const comparison &c : *comparisons) {
    *text += "<section class=\"comparison\">\n<h2>" + escape_xml("new: " + side_text(c.other)) +
             "</h2>\n<p>" + escape_xml("against base: " + side_text(c.base)) + "</p>\n";
    if (!c.can_reach_alpha) *text += "<p class=\"note\">" + escape_xml(reach_note(&c, alpha)) + ".</p>\n";
    for (const std::string &note : {pairing_note(&c), metric_note(&c)})
      if (!note.empty()) *text += "<p class=\"note\">" + escape_xml(note) + ".</p>\n";
    write_table_html(&c, false, text);
    write_table_html(&c, true, text);
    *text += "</section>\n";
    if (drain_sink(out, false, why) != 0) return -1;
  }
  *text += "<h2>Figures of each side</h2>\n";
  for (const chart_drive &drive : drives) write_html_figures(drive.label, drive.group, text);
  *text += "</body>\n</html>\n";
  return 0;
}
