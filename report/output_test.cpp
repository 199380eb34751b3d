// The report's forms read back: CSV by an RFC 4180 reader, JSON by the JSON
// library, the SVG's charts counted, text made safe for XML and terminals.
#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>

#include "numbers.h"
#include "output.h"
#include "output_compare.h"
#include "test_data.h"

namespace {

// RFC 4180 records: fields split at commas, quoted fields with doubled quotes,
// records ended by CR LF. A malformed text fails the test.
std::vector<std::vector<std::string>> read_csv(const std::string &text) {
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> record(1);
  for (size_t at = 0; at < text.size();) {
    if (text[at] == '"' && record.back().empty()) {
      for (++at; at < text.size(); ++at) {
        if (text[at] != '"') {
          record.back() += text[at];
        } else if (at + 1 < text.size() && text[at + 1] == '"') {
          record.back() += '"';
          ++at;
        } else {
          ++at;
          break;
        }
      }
    } else if (text.compare(at, 2, "\r\n") == 0) {
      records.push_back(record);
      record.assign(1, "");
      at += 2;
    } else {
      EXPECT_NE('\n', text[at]) << "a bare line feed at " << at;
      if (text[at] == ',')
        record.emplace_back();
      else
        record.back() += text[at];
      ++at;
    }
  }
  EXPECT_TRUE(record.size() == 1 && record[0].empty()) << "the last record has no CR LF";
  return records;
}

// Two captures, one of them with a root that needs quoting and escaping.
std::vector<report_input> sample_inputs(const std::string &odd_root) {
  std::string two = read_test_data("linux_two_drives.txt");
  two.replace(two.find("drive a.img") + 6, 5, odd_root);
  return {parse_named("two, \"drives\".txt", two),
          parse_named("-", read_test_data("linux_failed_reads.txt"))};
}

const std::string odd_root = "disk, \"one\" \xc3\xa9\xff<&>";

TEST(output, csv_reads_back_as_the_input_rows) {
  std::string why;
  std::vector<report_input> inputs = sample_inputs(odd_root);
  report_sink sink;
  ASSERT_EQ(0, write_csv(&inputs, &sink, &why));
  const std::string &csv = sink.text;
  std::vector<std::vector<std::string>> records = read_csv(csv);
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(
      "file,root,block_size,n_blocks,test,blocks_per_read,range_blocks,reads,ms,mib_per_s,us_per_read,iops,"
      "flags,device,read_first_us,read_min_us,read_p10_us,read_p25_us,read_p50_us,read_p75_us,read_p90_us,"
      "read_p99_us,read_p999_us,read_max_us",
      csv.substr(0, csv.find("\r\n")));
  size_t at = 1;
  for (const report_input &input : inputs)
    for (const report_drive &drive : input.drives)
      for (bool random : {false, true})
        for (const report_row &row : (random ? drive.random : drive.sequential).rows) {
          ASSERT_LT(at, records.size());
          const std::vector<std::string> &r = records[at++];
          ASSERT_EQ(24u, r.size()) << csv;
          EXPECT_EQ(input.name, r[0]);
          EXPECT_EQ(drive.root, r[1]);
          EXPECT_EQ(std::to_string(drive.n_blocks), r[3]);
          EXPECT_EQ(random ? "random" : "sequential", r[4]);
          EXPECT_EQ(random ? "1" : std::to_string(row.first), r[5]);
          EXPECT_EQ(random ? std::to_string(row.first) : "", r[6]);
          EXPECT_EQ(std::to_string(row.reads), r[7]);
          EXPECT_EQ(std::to_string(row.ms), r[8]);
          EXPECT_EQ(row.mib_per_s_text, r[9]);
          EXPECT_EQ(row.failed_reads, r[12].find("failed-reads") != std::string::npos);
          EXPECT_EQ(std::vector<std::string>(10), std::vector<std::string>(r.begin() + 14, r.end()))
              << "read times in a capture without them";
        }
  EXPECT_EQ(records.size(), at) << "records beyond the rows";
  EXPECT_EQ(1 + 20 + 11 + 20 + 10 + 20 + 11, (int)records.size());
  EXPECT_EQ("252.68817204301075", records[2][10]) << "47 ms over 186 reads";
  EXPECT_EQ("coarse", records[2][12]);
  EXPECT_EQ("", records[1][12]);
}

TEST(output, json_reads_back_as_the_input_rows) {
  std::string why;
  std::vector<report_input> inputs = sample_inputs(odd_root);
  report_sink sink;
  ASSERT_EQ(0, write_json(&inputs, &sink, &why));
  const std::string &text = sink.text;
  nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
  ASSERT_FALSE(document.is_discarded()) << text.substr(0, 2000);
  ASSERT_EQ(inputs.size(), document["files"].size());
  for (size_t i = 0; i < inputs.size(); ++i) {
    const nlohmann::json &file = document["files"][i];
    EXPECT_EQ(inputs[i].name, file["file"]);
    ASSERT_EQ(inputs[i].drives.size(), file["drives"].size());
    for (size_t j = 0; j < inputs[i].drives.size(); ++j) {
      const report_drive &drive = inputs[i].drives[j];
      const nlohmann::json &d = file["drives"][j];
      EXPECT_EQ(drive.block_size, d["block_size"]);
      EXPECT_EQ(drive.n_blocks, d["n_blocks"]);
      for (bool random : {false, true}) {
        const std::vector<report_row> &rows = (random ? drive.random : drive.sequential).rows;
        const nlohmann::json &r = d[random ? "random" : "sequential"];
        ASSERT_EQ(rows.size(), r.size());
        for (size_t k = 0; k < rows.size(); ++k) {
          EXPECT_EQ(rows[k].first, r[k][random ? "range_blocks" : "blocks_per_read"]);
          EXPECT_TRUE(r[k]["reads"].is_number_integer());
          EXPECT_EQ(rows[k].reads, r[k]["reads"]);
          EXPECT_EQ(rows[k].ms, r[k]["ms"]);
          EXPECT_DOUBLE_EQ(rows[k].mib_per_s, r[k]["mib_per_s"].get<double>());
          EXPECT_EQ(rows[k].failed_reads, r[k]["flags"].dump().find("failed-reads") != std::string::npos);
          EXPECT_FALSE(r[k].contains("read_us")) << "read times in a capture without them";
        }
      }
    }
  }
  // Bytes that are not UTF-8 become U+FFFD; everything else comes back.
  EXPECT_EQ("disk, \"one\" \xc3\xa9\xef\xbf\xbd<&>", document["files"][0]["drives"][0]["root"]);
  const nlohmann::json &figures = document["files"][0]["drives"][0]["figures"];
  EXPECT_TRUE(figures["sequential"]["fit"].is_null());
  EXPECT_TRUE(figures["sequential"]["fit_note"].is_string());
  EXPECT_EQ(1, figures["sequential"]["rows"]);
  EXPECT_DOUBLE_EQ(3.462988, figures["sequential"]["peak"]["mib_per_s"].get<double>());
  EXPECT_NEAR(252.688, document["files"][0]["drives"][0]["sequential"][1]["us_per_read"].get<double>(),
              0.001);
}

// blockmeter's lines of read times in a capture, in the order printed, each
// time's text by its label, read here apart from the report's parser.
std::vector<std::vector<std::pair<std::string, std::string>>> read_time_lines(const std::string &capture) {
  std::vector<std::vector<std::pair<std::string, std::string>>> lines;
  std::istringstream text(capture);
  for (std::string line; std::getline(text, line);) {
    size_t at = line.find(": read time us: ");
    if (at == std::string::npos) continue;
    std::istringstream times(line.substr(at + 16));
    lines.emplace_back();
    for (std::string label, value; times >> label >> value;) {
      if (value.back() == ',') value.pop_back();
      lines.back().push_back({label, value});
    }
  }
  return lines;
}

// Each form gives the times exactly as the lines have them: CSV their text,
// JSON their numbers, the page its columns. The emulated disk's capture has
// a line after each of its 37 rows.
TEST(output, every_form_gives_the_read_times_as_blockmeter_printed_them) {
  std::string why, capture = read_test_data("linux_emulated_7200.txt");
  std::vector<report_input> inputs = {parse_named("emulated", capture)};
  auto lines = read_time_lines(capture);
  ASSERT_EQ(37u, lines.size());
  const std::vector<std::string> keys = {"first", "min", "p10", "p25",  "p50",
                                         "p75",   "p90", "p99", "p999", "max"};
  report_sink csv, json, html;
  ASSERT_EQ(0, write_csv(&inputs, &csv, &why));
  ASSERT_EQ(0, write_json(&inputs, &json, &why));
  ASSERT_EQ(0, write_html(&inputs, &html, &why));
  std::vector<std::vector<std::string>> records = read_csv(csv.text);
  ASSERT_EQ(1 + 37u, records.size());
  nlohmann::ordered_json document = nlohmann::ordered_json::parse(json.text);
  const nlohmann::ordered_json &drive = document["files"][0]["drives"][0];
  std::vector<const nlohmann::ordered_json *> rows;
  for (const char *table : {"sequential", "random"})
    for (const nlohmann::ordered_json &row : drive[table]) rows.push_back(&row);
  ASSERT_EQ(37u, rows.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    ASSERT_EQ(10u, lines[i].size()) << i;
    ASSERT_EQ(24u, records[i + 1].size()) << i;
    const nlohmann::ordered_json &times = (*rows[i])["read_us"];
    ASSERT_EQ(10u, times.size()) << i;
    size_t t = 0;
    for (auto time = times.begin(); time != times.end(); ++time, ++t) {
      EXPECT_EQ(lines[i][t].second, records[i + 1][14 + t]) << "CSV row " << i << ", " << keys[t];
      EXPECT_EQ(keys[t], time.key()) << i;
      EXPECT_EQ(std::strtod(lines[i][t].second.c_str(), nullptr), time.value().get<double>())
          << "JSON row " << i << ", " << keys[t];
    }
  }
  // Ten columns a row, as printed; the first reads found slow by hand (18
  // sequential rows and range 1024) stand out.
  EXPECT_EQ(2u, count_in(html.text, "<table class=\"rows sequential timed\">") +
                    count_in(html.text, "<table class=\"rows random timed\">"));
  EXPECT_EQ(19u, count_in(html.text, "<td class=\"slow-first\">"));
  EXPECT_EQ(370u - 19, count_in(html.text, "<td class=\"times\">"));
  EXPECT_EQ(1u, count_in(html.text, "<td class=\"slow-first\">8807.7</td>"));

  // Two runs of one loop device (as it is, then limited): their widest
  // range's p50s were 102.8 and 40.6 us, p99s 238.8 and 96.4.
  std::vector<report_input> runs = {parse_named("a", read_test_data("linux_loop_timed.txt")),
                                    parse_named("b", read_test_data("linux_loop_throttled_timed.txt"))};
  report_sink runs_json;
  ASSERT_EQ(0, write_json(&runs, &runs_json, &why));
  nlohmann::json runs_document = nlohmann::json::parse(runs_json.text);
  const nlohmann::json &widest = runs_document["repeated_drives"][0]["random"][0];
  EXPECT_DOUBLE_EQ((102.8 + 40.6) / 2, widest["read_us"]["p50"].get<double>());
  EXPECT_DOUBLE_EQ((238.8 + 96.4) / 2, widest["read_us"]["p99"].get<double>());
  EXPECT_EQ(2, widest["read_us_runs"]);
  report_sink summary;
  ASSERT_EQ(0, write_summary(&runs, &summary, &why));
  EXPECT_NE(std::string::npos, summary.text.find("  runs  p50 us  p99 us\n    range 32 MiB  "))
      << summary.text;
  EXPECT_NE(std::string::npos, summary.text.find("     2    71.7   167.6  coarse\n")) << summary.text;

  // A capture without them: no columns in the page.
  std::vector<report_input> old = {parse_named("old", read_test_data("linux_two_drives.txt"))};
  report_sink old_html;
  ASSERT_EQ(0, write_html(&old, &old_html, &why));
  EXPECT_EQ(0u, count_in(old_html.text, " timed\">") + count_in(old_html.text, "class=\"times"));
}

// In the SVG, an odd root is escaped and its stray byte replaced.
TEST(output, text_made_safe_for_xml) {
  std::string why;
  std::vector<report_input> inputs = sample_inputs(odd_root);
  report_sink sink;
  ASSERT_EQ(0, write_svg(&inputs, true, &sink, &why));
  const std::string &svg = sink.text;
  EXPECT_NE(std::string::npos, svg.find(">disk, &quot;one&quot; \xc3\xa9\xef\xbf\xbd&lt;&amp;&gt; ("));
  EXPECT_EQ(std::string::npos, svg.find("\xff"));
}

TEST(output, summary_gives_the_figures_of_a_real_run) {
  std::string why;
  std::vector<report_input> inputs = {parse_named("64mib", read_test_data("linux_64mib.txt"))};
  report_sink sink;
  ASSERT_EQ(0, write_summary(&inputs, &sink, &why));
  const std::string &summary = sink.text;
  // Worked by hand from the capture: the fastest row is 189 blocks of 512
  // bytes at 423.533863 MiB/s; the widest range of 100 ms or more is 16384
  // blocks, 113 ms over 800 reads; the narrowest, 2 blocks, 5269 ms over
  // 51200 reads.
  for (const char *expected :
       {"64mib: drive big.img\n", "block size 512 B, 131072 blocks, 0.0625 GiB (64 MiB)\n",
        "sequential: 20 rows, 20 of 100 ms or more\n",
        "sequential peak: 423.53 MiB/s at 94.5 KiB per read (189 blocks; best of 20 rows, 512 B to 100 KiB per "
        "read)\n",
        // 1893.17 MiB/s fitted, over four times the fastest row.
        "MiB/s: an extrapolation beyond the reads measured, not the disk's speed (",
        "random: 17 rows, 14 of 100 ms or more\n",
        "widest random range: 141.2 us per read over 8 MiB (16384 blocks; widest of 14 rows)\n",
        "narrowest random range: 102.9 us per read over 1 KiB (2 blocks; narrowest of 14 rows)\n",
        "moving across the volume: 38.3 us per read (141.2 us over 8 MiB against 102.9 us over 1 KiB)\n"})
    EXPECT_NE(std::string::npos, summary.find(expected)) << expected << "\nin:\n" << summary;
}

}  // namespace

namespace {

// blockmeter's device line and a warning in a 2>&1 capture reach every form.
TEST(output, the_device_and_warnings_go_with_their_drive_into_every_form) {
  std::string why;
  std::string capture = read_test_data("linux_two_drives.txt");
  size_t tables = capture.find("Multisector read test", capture.find("drive b.img"));
  capture.insert(tables,
                 "blockmeter: b.img: reading /dev/vda, 252 GiB, logical sector 512 B\n"
                 "blockmeter: warning: 75.0% of b.img is holes or unwritten extents\n");
  std::vector<report_input> inputs = {parse_named("two", capture)};
  ASSERT_EQ(2u, inputs[0].drives.size());
  EXPECT_EQ("", inputs[0].drives[0].device);
  EXPECT_EQ("/dev/vda, 252 GiB, logical sector 512 B", inputs[0].drives[1].device);
  const struct {
    int (*write)(const std::vector<report_input> *, report_sink *, std::string *);
    std::vector<std::string> expected;
  } forms[] = {
      {write_summary,
       {"B (512 KiB)\n  device: /dev/vda, 252 GiB, logical sector 512 B\n  warning: 75.0% of b.img is holes"}},
      {write_csv,
       {",coarse suspect,\"/dev/vda, 252 GiB, logical sector 512 B\"" + std::string(10, ',') + "\r\n",
        ",coarse," + std::string(10, ',') + "\r\n"}},
      {write_json, {"\"warnings\": [\n            \"75.0% of b.img is holes or unwritten extents\"\n          ]"}},
      {[](const std::vector<report_input> *in, report_sink *out, std::string *why) { return write_svg(in, true, out, why); },
       {"\xe2\x9a\xa0 b.img \xe2\x80\x94 /dev/vda, 252 GiB, logical sector 512 B (blockmeter warned"}},
      {write_html, {"<tr><th>warning</th><td><span class=\"warning\">75.0% of b.img is holes"}},
  };
  for (const auto &form : forms) {
    report_sink sink;
    ASSERT_EQ(0, form.write(&inputs, &sink, &why));
    for (const std::string &expected : form.expected)
      EXPECT_NE(std::string::npos, sink.text.find(expected)) << expected << "\nin:\n" << sink.text.substr(0, 3000);
  }
  // Only b.img's rows are suspect.
  report_sink csv;
  ASSERT_EQ(0, write_csv(&inputs, &csv, &why));
  EXPECT_EQ(inputs[0].drives[1].sequential.rows.size() + inputs[0].drives[1].random.rows.size(),
            count_in(csv.text, "suspect"));
}

// A speed beyond what a double can scale is drawn at the top edge, never as
// a coordinate that is not a number.
TEST(output, svg_coordinates_are_always_numbers) {
  std::string why;
  std::string capture = read_test_data("linux_64mib.txt");
  const std::string speed = "423.533863";
  capture.replace(capture.find(speed), speed.size(), std::string(308, '9') + ".000000");
  std::vector<report_input> inputs = {parse_named("huge", capture)};
  report_sink sink;
  ASSERT_EQ(0, write_svg(&inputs, true, &sink, &why));
  for (const char *bad : {"nan", "inf"}) EXPECT_EQ(std::string::npos, sink.text.find(bad)) << bad;
}

}  // namespace

namespace {

// Four runs of a loop device, and one run of another drive: the runs are one
// drive, shown once. Its first sequential row took 145, 310, 374 and 116 ms
// for 1000 reads: a median of 227.5 us per read, from 116 to 374.
TEST(output, runs_of_one_drive_are_shown_once_from_their_medians) {
  std::string why;
  std::vector<report_input> inputs = {parse_named("loop", read_test_data("linux_loop_as_is.txt")),
                                      parse_named("64mib", read_test_data("linux_64mib.txt"))};
  report_sink summary, svg, json;
  ASSERT_EQ(0, write_summary(&inputs, &summary, &why));
  ASSERT_EQ(0, write_svg(&inputs, true, &svg, &why));
  ASSERT_EQ(0, write_json(&inputs, &json, &why));
  EXPECT_EQ(0u, summary.text.find("drive /dev/loop0: 4 runs\n")) << summary.text;
  EXPECT_NE(std::string::npos, summary.text.find("\n    1 block (512 B)          227.5     116.0    374.0")) << summary.text;
  EXPECT_NE(std::string::npos, summary.text.find("medians of 4 runs"));
  EXPECT_NE(std::string::npos, summary.text.find("\n64mib: drive big.img\n"));
  EXPECT_EQ(2u, count_in(svg.text, "<polygon class=\"band\"")) << "a band in each chart, for the runs only";
  EXPECT_EQ(4u, count_in(svg.text, "<g class=\"drive\""));
  nlohmann::json document = nlohmann::json::parse(json.text);
  ASSERT_EQ(1u, document["repeated_drives"].size());
  const nlohmann::json &runs = document["repeated_drives"][0];
  EXPECT_EQ(4u, runs["runs"].size());
  EXPECT_EQ(227.5, runs["sequential"][0]["us_per_read"]);
  EXPECT_EQ(116, runs["sequential"][0]["min_us"]);
  EXPECT_EQ(4, runs["figures"]["runs"]);
  EXPECT_EQ(5u, document["files"][0]["drives"].size() + document["files"][1]["drives"].size());
}

// Two inputs compared at alpha, the comparison pointing into them and the sides.
struct compared_pair {
  std::vector<report_input> inputs;
  std::vector<compare_side> sides;
  std::vector<comparison> comparisons;
};

// Compares pair's inputs; a side that cannot be made fails the test.
void compare_pair(double alpha, compared_pair *pair) {
  std::vector<std::string> whys;
  ASSERT_EQ(0, compare_inputs(&pair->inputs, alpha, &pair->sides, &pair->comparisons, &whys))
      << whys[0] << whys[1];
}

// The loop device as it is against throttled (its capture limited to 2000
// reads a second, four runs a side), compared at alpha.
void compare_loop(const std::string &throttled, double alpha, compared_pair *pair) {
  pair->inputs = {parse_named("as-is", read_test_data("linux_loop_as_is.txt")),
                  parse_named("throttled", throttled)};
  compare_pair(alpha, pair);
}

// The same device as it is and limited to 2000 reads a second, four runs a
// side: the first sequential row goes from 227.5 to 438.5 us per read (422
// to 463 ms), with no run of one side among the other's: p = 2 / 70.
TEST(output, every_form_of_a_comparison_carries_its_verdicts) {
  std::string why;
  compared_pair loop;
  ASSERT_NO_FATAL_FAILURE(compare_loop(read_test_data("linux_loop_throttled.txt"), default_alpha, &loop));
  report_sink text, csv, json, html;
  ASSERT_EQ(0, write_compare_text(&loop.comparisons, default_alpha, &text, &why));
  ASSERT_EQ(0, write_compare_csv(&loop.comparisons, default_alpha, &csv, &why));
  ASSERT_EQ(0, write_compare_json(&loop.comparisons, default_alpha, &json, &why));
  ASSERT_EQ(0, write_compare_html(&loop.comparisons, default_alpha, &html, &why));
  EXPECT_NE(std::string::npos, text.text.find("\n1 block (512 B)         227.5 +-64%   438.5 +-6%   +92.7%  0.029   4+4\n"))
      << text.text;
  EXPECT_NE(std::string::npos,
            csv.text.find("\r\nthrottled,sequential,1,,4,227.5,116,374,4,438.5,422,463,92.74725274725274,"
                          "0.02857142857142857,slower,,512,,as-is,/dev/loop0,mean\r\n"))
      << csv.text.substr(0, 600);
  nlohmann::json document = nlohmann::json::parse(json.text);
  const nlohmann::json &first = document["comparisons"][0]["sequential"]["rows"][0];
  EXPECT_EQ("slower", first["verdict"]);
  EXPECT_EQ(438.5, first["new"]["us_per_read"]);
  EXPECT_GT(document["comparisons"][0]["random"]["geomean"]["ratio"].get<double>(), 1.5);
  EXPECT_NE(std::string::npos, html.text.find("<td class=\"slower\">slower</td>"));
  // The table's own verdict beside its geometric mean, in every form: four
  // runs a side wholly apart on the table's rows, p = 2 / 70.
  EXPECT_NE(std::string::npos, text.text.find("more on both sides; overall slower, p 0.029 (whole runs shuffled: all "
                                              "70 splits of the runs)\n"))
      << text.text;
  const nlohmann::json &geomean = document["comparisons"][0]["sequential"]["geomean"];
  EXPECT_EQ("slower", geomean["verdict"]);
  EXPECT_NEAR(2.0 / 70, geomean["p_value"].get<double>(), 1e-12);
  EXPECT_NE(std::string::npos, html.text.find("; overall slower, p 0.029 (whole runs shuffled"));

  // Three runs a side: no row can differ, and the text says so once.
  for (report_input &input : loop.inputs) input.drives.pop_back();
  ASSERT_NO_FATAL_FAILURE(compare_pair(default_alpha, &loop));
  report_sink few;
  ASSERT_EQ(0, write_compare_text(&loop.comparisons, default_alpha, &few, &why));
  EXPECT_EQ(1u, count_in(few.text, "the rank test cannot reach p < 0.05 (its smallest p is 0.100)"));
  EXPECT_EQ(0u, count_in(few.text, "%  0.")) << "a delta shown, where every row should read ~";
}

// A p-value far below 0.001 and a tiny alpha reach every form as numbers.
TEST(output, a_tiny_p_value_and_alpha_reach_every_form_as_numbers) {
  std::string why;
  const double alpha = 1e-300;
  compared_pair loop;
  ASSERT_NO_FATAL_FAILURE(compare_loop(read_test_data("linux_loop_throttled.txt"), alpha, &loop));
  // As the rank test gives it for hundreds of runs a side, clearly apart.
  loop.comparisons[0].sequential.rows[0].p = 3.4e-67;
  report_sink text, csv, html;
  ASSERT_EQ(0, write_compare_text(&loop.comparisons, alpha, &text, &why));
  ASSERT_EQ(0, write_compare_csv(&loop.comparisons, default_alpha, &csv, &why));
  ASSERT_EQ(0, write_compare_html(&loop.comparisons, alpha, &html, &why));
  for (const std::string *form : {&text.text, &csv.text, &html.text})
    EXPECT_EQ(std::string::npos, form->find('\0')) << "a NUL byte in the output";
  EXPECT_EQ(1u, count_in(csv.text, ",3.4e-67,"));
  EXPECT_NE(std::string::npos, text.text.find("at p < 1e-300.")) << text.text;
  EXPECT_NE(std::string::npos, html.text.find("noise at p &lt; 1e-300.")) << html.text.substr(0, 2000);
  EXPECT_FALSE(number_format_failed());
}

// A warning of blockmeter's about a side goes above its tables in the text,
// and flags every row of its comparison suspect in the CSV, as the plain
// forms do.
TEST(output, a_comparison_keeps_blockmeters_warnings_in_every_form) {
  std::string why;
  std::string throttled = read_test_data("linux_loop_throttled.txt");
  const std::string warning = "/dev/loop0 is a loop device without direct I/O: its reads go through the page cache";
  const std::string line = "blockmeter: warning: " + warning + "\n";
  for (size_t at = 0; (at = throttled.find("Multisector read test", at)) != std::string::npos;
       at += line.size() + 1)
    throttled.insert(at, line);
  compared_pair loop;
  ASSERT_NO_FATAL_FAILURE(compare_loop(throttled, default_alpha, &loop));
  report_sink text, csv;
  ASSERT_EQ(0, write_compare_text(&loop.comparisons, default_alpha, &text, &why));
  ASSERT_EQ(0, write_compare_csv(&loop.comparisons, default_alpha, &csv, &why));
  EXPECT_NE(std::string::npos, text.text.find("\nnew:  throttled: drive /dev/loop0, 4 runs\nwarning: " + warning + "\n"))
      << text.text.substr(0, 600);
  EXPECT_EQ(1u, count_in(text.text, "warning: ")) << "the base was not warned of";
  std::vector<std::vector<std::string>> records = read_csv(csv.text);
  ASSERT_EQ(1 + 20 + 16u, records.size());
  for (size_t i = 1; i < records.size(); ++i) EXPECT_NE(std::string::npos, records[i][15].find("suspect")) << i;
}

// One root at two sizes is two drives, and the legend tells them apart.
TEST(output, one_root_at_two_sizes_is_told_apart_in_the_legend) {
  std::string why;
  std::string capture = read_test_data("linux_two_drives.txt");
  size_t second = capture.find("drive b.img");
  capture.replace(second, 11, "drive a.img");
  std::vector<report_input> inputs = {parse_named("two", capture)};
  report_sink sink;
  ASSERT_EQ(0, write_svg(&inputs, true, &sink, &why));
  EXPECT_NE(std::string::npos, sink.text.find(">a.img (1 MiB of 512 B blocks)</text>")) << sink.text.substr(0, 200);
  EXPECT_NE(std::string::npos, sink.text.find(">a.img (512 KiB of 512 B blocks)</text>"));
}

// The device model reaches every form, in lines a script can read.
TEST(output, the_device_model_reaches_the_summary_the_page_and_the_json) {
  std::vector<report_input> inputs = {parse_named("emulated", read_test_data("linux_emulated_7200.txt"))};
  report_sink text, json, html;
  std::string why;
  ASSERT_EQ(0, write_summary(&inputs, &text, &why)) << why;
  ASSERT_EQ(0, write_json(&inputs, &json, &why)) << why;
  ASSERT_EQ(0, write_html(&inputs, &html, &why)) << why;
  EXPECT_NE(std::string::npos, text.text.find("\n  behaves like: rotating (")) << text.text;
  EXPECT_NE(std::string::npos, text.text.find("\n  rotation: 7200 rpm (measured "));
  EXPECT_NE(std::string::npos, text.text.find("\n  average access: 12.72 ms ("));
  EXPECT_NE(std::string::npos, text.text.find("\n  average seek: "));
  EXPECT_NE(std::string::npos, text.text.find("\n  track buffer: serves "));
  nlohmann::json document = nlohmann::json::parse(json.text);
  const nlohmann::json &model = document["files"][0]["drives"][0]["device_model"];
  EXPECT_EQ("rotating", model["behaves_like"]);
  EXPECT_EQ(7200, model["rotation"]["rpm"]);
  EXPECT_EQ("serves", model["track_buffer"]);
  EXPECT_TRUE(model["limit"].is_null());
  EXPECT_NE(std::string::npos, html.text.find("<tr><th>rotation</th><td>7200 rpm (")) << html.text.substr(0, 3000);
}

}  // namespace
