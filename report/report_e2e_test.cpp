// The built blockmeter-report: its command line, errors and statuses, its
// SVG read by xmllint, its HTML page loaded by Chromium, what the built
// blockmeter prints read back, and the Windows build under Wine.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "emulated_disk.h"
#include "test_build.h"

namespace {

constexpr int run_timeout_ms = 120000;

std::string test_data(const std::string &name) { return std::string(REPORT_TEST_DATA) + "/" + name; }

std::string scratch_dir() { return ::scratch_dir("report"); }

std::string read_file(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

void write_file(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

program_run run(std::vector<std::string> argv, const std::string *input = nullptr,
                const char *cwd = nullptr) {
  program_options options;
  options.input = input;
  options.cwd = cwd;
  options.timeout_ms = run_timeout_ms;
  program_run result;
  EXPECT_TRUE(run_program(argv, &options, &result)) << result.error;
  EXPECT_FALSE(result.timed_out) << argv[0] << " did not end within " << run_timeout_ms / 1000 << " s";
  return result;
}

program_run run_report(const std::vector<std::string> &args, const std::string *input = nullptr,
                       const test_build *build = native_build(), const char *cwd = nullptr) {
  return run(build_command(build, program_path(build, "blockmeter-report"), args), input, cwd);
}

size_t count_of(const std::string &text, const std::string &what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

TEST(report_e2e, standard_input_and_output_file_give_what_files_and_standard_output_do) {
  std::string capture = read_file(test_data("linux_two_drives.txt"));
  program_run from_file = run_report({"--csv", test_data("linux_two_drives.txt")});
  program_run from_stdin = run_report({"--csv"}, &capture);
  EXPECT_EQ(0, from_file.status) << from_file.err;
  EXPECT_EQ(0, from_stdin.status) << from_stdin.err;
  EXPECT_EQ("", from_stdin.err);
  // The same records but for the file column, which is "-" for standard input.
  std::string named = test_data("linux_two_drives.txt") + ",";
  EXPECT_EQ(1 + 31 + 30u, count_of(from_file.out, "\r\n"));
  EXPECT_EQ(31 + 30u, count_of(from_file.out, "\r\n" + named));
  EXPECT_EQ(31 + 30u, count_of(from_stdin.out, "\r\n-,"));

  std::string output = scratch_dir() + "/report.json";
  remove(output.c_str());
  program_run to_file = run_report({"--json", "-o", output, test_data("linux_two_drives.txt")});
  EXPECT_EQ(0, to_file.status) << to_file.err;
  EXPECT_EQ("", to_file.out);
  EXPECT_EQ(run_report({"--json", test_data("linux_two_drives.txt")}).out, read_file(output));
}

struct bad_run {
  std::vector<std::string> args;
  const char *input;  // standard input, or null
  int status;
  std::string err;  // what standard error starts with
};

TEST(report_e2e, bad_inputs_and_command_lines_get_clear_errors_and_no_report) {
  std::string dir = scratch_dir(), empty = dir + "/empty.txt", missing = dir + "/missing.txt";
  std::string output = dir + "/never-written.csv", good = test_data("linux_two_drives.txt");
  write_file(empty, "");
  remove(missing.c_str());
  remove(output.c_str());
  const bad_run cases[] = {
      {{empty}, nullptr, 1, "blockmeter-report: " + empty + ": no blockmeter results found\n"},
      {{missing}, nullptr, 1, "blockmeter-report: " + missing + ": No such file or directory\n"},
      {{dir}, nullptr, 1, "blockmeter-report: " + dir + ": Is a directory\n"},
      {{"-"},
       "blockmeter: cannot open /dev/sdz: No such file or directory\n\x01\xff",
       1,
       "blockmeter-report: standard input: no blockmeter results found\n"},
      // Every input is read and every failure told; then nothing is written.
      {{"--csv", "-o", output, missing, good, empty},
       nullptr,
       1,
       "blockmeter-report: " + missing + ": No such file or directory\nblockmeter-report: " + empty +
           ": no blockmeter results found\n"},
      {{"--bogus", good}, nullptr, 2, "blockmeter-report: unknown option --bogus\n"},
      {{"--csv", "--json", good}, nullptr, 2, "blockmeter-report: one format per run"},
      {{good, "-o"}, nullptr, 2, "blockmeter-report: -o needs a file name\n"},
      {{"-o", good, good}, nullptr, 2, "blockmeter-report: the output " + good + " is an input\n"},
      {{"--compare", good}, nullptr, 2, "blockmeter-report: --compare needs a BASE file and at least one NEW"},
      {{"--compare", "--alpha", "1", good, good}, nullptr, 2, "blockmeter-report: --alpha needs a number"},
      {{"--alpha", "0.01", good}, nullptr, 2, "blockmeter-report: --alpha is for --compare alone\n"},
      {{"--metric", "p99", good}, nullptr, 2, "blockmeter-report: --metric is for --compare alone\n"},
      {{"--compare", "--metric=p95", good, good},
       nullptr,
       2,
       "blockmeter-report: --metric needs mean, p50 or p99, not 'p95'\n"},
      {{"--compare", "-", "-"}, "", 2, "blockmeter-report: standard input (-) is named twice; it can be read once\n"},
      {{"--compare", good, test_data("linux_64mib.txt")},
       nullptr,
       1,
       "blockmeter-report: " + good + ": cannot compare: holds runs of more than one drive (a.img"},
  };
  std::string before = read_file(good);
  for (const bad_run &c : cases) {
    std::string input = c.input == nullptr ? "" : c.input;
    program_run result = run_report(c.args, c.input == nullptr ? nullptr : &input);
    std::string what = c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : "");
    EXPECT_EQ(c.status, result.status) << what;
    EXPECT_EQ(0u, result.err.find(c.err)) << what << ": " << result.err;
    EXPECT_EQ("", result.out) << what;
  }
  EXPECT_NE(0, access(output.c_str(), F_OK)) << output << " was written";
  EXPECT_EQ(before, read_file(good)) << "an input named as the output was changed";

  program_run help = run_report({"--help"});
  EXPECT_EQ(0, help.status);
  EXPECT_EQ(0u, help.out.find("Usage: blockmeter-report ")) << help.out;
  EXPECT_EQ("blockmeter-report 1.0.0\n", run_report({"--version"}).out);
}

TEST(report_e2e, a_run_cut_short_is_reported_as_far_as_it_goes_with_one_note) {
  program_run result = run_report({"--csv", test_data("linux_cut_short.txt")});
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(1 + 20 + 6u, count_of(result.out, "\r\n"));
  EXPECT_EQ(
      "blockmeter-report: " + test_data("linux_cut_short.txt") +
          ": drive c.img: the run was cut short (random table: 6 of 11 rows); reported as far as it goes\n",
      result.err);
}

TEST(report_e2e, a_report_that_cannot_be_written_is_a_failure) {
  if (access("/dev/full", W_OK) != 0) SKIP_OR_FAIL("/dev/full is missing: no device that refuses writes");
  program_run to_file = run_report({"-o", "/dev/full", test_data("linux_two_drives.txt")});
  EXPECT_EQ(1, to_file.status);
  EXPECT_EQ("blockmeter-report: /dev/full: cannot write the report: No space left on device\n", to_file.err);
  struct stat device;
  EXPECT_TRUE(stat("/dev/full", &device) == 0 && S_ISCHR(device.st_mode))
      << "/dev/full is no longer the device";
  program_run to_stdout = run({"/bin/sh", "-c",
                               program_path(native_build(), "blockmeter-report") + " " +
                                   test_data("linux_two_drives.txt") + " >/dev/full"});
  EXPECT_EQ(1, to_stdout.status);
  EXPECT_EQ("blockmeter-report: standard output: cannot write the report: No space left on device\n",
            to_stdout.err);
}

// A name of one of the process's own descriptors is written through it: the
// file behind a redirected stream is appended to, never replaced.
TEST(report_e2e, an_output_named_by_descriptor_goes_through_it) {
  std::string log = scratch_dir() + "/stream.log", report = program_path(native_build(), "blockmeter-report");
  std::string summary = run_report({test_data("linux_two_drives.txt")}).out;
  ASSERT_FALSE(summary.empty());
  for (const char *name : {"/dev/stdout", "/dev/fd/1", "/proc/self/fd/1", "//dev/./stdout"}) {
    write_file(log, "kept\n");
    program_run to_log = run({"/bin/sh", "-c", report + " " + test_data("linux_two_drives.txt") + " -o " + name +
                                                   " >>" + log + " && echo after >>" + log});
    EXPECT_EQ(0, to_log.status) << name << ": " << to_log.err;
    EXPECT_EQ("kept\n" + summary + "after\n", read_file(log)) << name;
  }
  write_file(log, "kept\n");
  program_run to_err = run({"/bin/sh", "-c", report + " " + test_data("linux_two_drives.txt") +
                                                 " -o /dev/stderr 2>>" + log});
  EXPECT_EQ(0, to_err.status);
  EXPECT_EQ("kept\n" + summary, read_file(log));
  program_run closed = run_report({"-o", "/dev/fd/9", test_data("linux_two_drives.txt")});
  EXPECT_EQ(1, closed.status);
  EXPECT_EQ("blockmeter-report: /dev/fd/9: cannot write the report: Bad file descriptor\n", closed.err);
}

// Refused as command-line errors, with the file or device left as it was.
TEST(report_e2e, a_block_device_or_standard_input_is_no_output) {
  std::string capture = scratch_dir() + "/capture.txt", device = scratch_dir() + "/block-device";
  std::string before = read_file(test_data("linux_two_drives.txt"));
  write_file(capture, before);
  program_run same =
      run({"/bin/sh", "-c",
           program_path(native_build(), "blockmeter-report") + " -o " + capture + " <" + capture});
  EXPECT_EQ(2, same.status);
  EXPECT_EQ(0u, same.err.find("blockmeter-report: the output " + capture + " is standard input\n"))
      << same.err;
  EXPECT_EQ(before, read_file(capture));

  remove(device.c_str());
  if (mknod(device.c_str(), S_IFBLK | 0600, makedev(7, 255)) != 0)
    SKIP_OR_FAIL(std::string("cannot make a block device node: ") + strerror(errno));
  program_run block = run_report({"-o", device, capture});
  EXPECT_EQ(2, block.status);
  EXPECT_EQ(0u, block.err.find("blockmeter-report: the output " + device + " is a block device\n"))
      << block.err;
  struct stat node;
  EXPECT_TRUE(stat(device.c_str(), &node) == 0 && S_ISBLK(node.st_mode))
      << device << " is no longer the node";
  remove(device.c_str());
}

class report_output_e2e : public each_build {};

// The report replaces a file whole, its mode kept; on a full file system the
// old file stays and no temporary is left.
TEST_P(report_output_e2e, a_full_file_system_keeps_the_old_report) {
  std::string dir = scratch_dir() + "/full-" + build()->name, report = dir + "/report.csv";
  bool ok;
  shell(
      "mkdir -p " + dir + " && (umount " + dir + " 2>/dev/null; mount -t tmpfs -o size=64k none " + dir + ")",
      &ok);
  if (!ok) SKIP_OR_FAIL("cannot mount a tmpfs at " + dir);
  write_file(report, "the old report\n");
  chmod(report.c_str(), 0640);
  std::string capture = test_data("linux_two_drives.txt");
  program_run replaced = run_report({"--csv", "-o", "report.csv", capture}, nullptr, build(), dir.c_str());
  EXPECT_EQ(0, replaced.status) << replaced.err;
  std::string csv = read_file(report);
  EXPECT_EQ(1 + 31 + 30u, count_of(csv, "\r\n")) << csv;
  struct stat file;
  EXPECT_TRUE(stat(report.c_str(), &file) == 0 && (build()->wine || (file.st_mode & 0777) == 0640));

  shell("dd if=/dev/zero of=" + dir + "/filler bs=4096 2>/dev/null; true", &ok);
  program_run failed = run_report({"-o", "report.csv", capture}, nullptr, build(), dir.c_str());
  EXPECT_EQ(1, failed.status);
  EXPECT_EQ(
      std::vector<std::string>{
          "blockmeter-report: report.csv: cannot write the report: No space left on device"},
      split_lines(failed.err));
  EXPECT_EQ(csv, read_file(report));
  std::string files = shell("ls -A " + dir, &ok);
  EXPECT_EQ("filler\nreport.csv\n", files) << "a temporary was left";
  shell("umount " + dir, &ok);
}

INSTANTIATE_ON_EACH_BUILD(report_output_e2e);

// The built blockmeter's output, standard error mixed in, read back whole:
// should blockmeter's tables change, this is where it shows.
TEST(report_e2e, reads_what_the_built_blockmeter_prints) {
  std::string image = scratch_dir() + "/volume.img", capture = scratch_dir() + "/volume.txt";
  write_file(image, std::string(64 * 1024, '\x5a'));
  program_run measured = run({"/bin/sh", "-c",
                              "cd " + scratch_dir() + " && " + program_path(native_build(), "blockmeter") +
                                  " volume.img >volume.txt 2>&1"});
  ASSERT_EQ(0, measured.status) << read_file(capture);
  program_run result = run_report({"--json", capture});
  ASSERT_EQ(0, result.status) << result.err;
  EXPECT_EQ("", result.err);
  nlohmann::json document = nlohmann::json::parse(result.out, nullptr, false);
  ASSERT_FALSE(document.is_discarded());
  const nlohmann::json &drive = document["files"][0]["drives"][0];
  EXPECT_EQ("volume.img", drive["root"]);
  EXPECT_EQ(64 * 1024, drive["block_size"].get<int>() * drive["n_blocks"].get<int>());
  EXPECT_TRUE(drive["cut_short"].is_null());
  EXPECT_EQ(20u, drive["sequential"].size());
  // One row per halving of the block count down to 2 or 3, and no note that
  // any table ended early.
  int ranges = 0;
  for (int range = drive["n_blocks"]; range > 1; range >>= 1) ++ranges;
  ASSERT_EQ((size_t)ranges, drive["random"].size());
  EXPECT_EQ(drive["n_blocks"], drive["random"][0]["range_blocks"]);
}

std::string xpath(const std::string &file, const std::string &expression) {
  std::string out = run({"/usr/bin/xmllint", "--xpath", expression, file}).out;
  return out.substr(0, out.find('\n'));
}

TEST(report_e2e, svg_is_xml_with_both_charts_and_a_point_per_row) {
  if (access("/usr/bin/xmllint", X_OK) != 0)
    SKIP_OR_FAIL("xmllint not found (Debian package: libxml2-utils)");
  std::string svg = scratch_dir() + "/report.svg";
  program_run result =
      run_report({"--svg", "-o", svg, test_data("linux_two_drives.txt"), test_data("win64_crlf.txt")});
  ASSERT_EQ(0, result.status) << result.err;
  program_run lint = run({"/usr/bin/xmllint", "--noout", svg});
  EXPECT_EQ(0, lint.status) << lint.err;
  // Drives a.img, b.img and Q:\ in that order.
  const int sequential_rows[] = {20, 20, 20}, random_rows[] = {11, 10, 11};
  for (int drive = 0; drive < 3; ++drive)
    for (const char *chart : {"sequential-chart", "random-chart"}) {
      std::string count = xpath(svg, "count(//*[@id='" + std::string(chart) + "']/*[@class='drive'][" +
                                         std::to_string(drive + 1) + "]/*[contains(concat(' ', @class, ' '), ' point ')])");
      int expected = chart[0] == 's' ? sequential_rows[drive] : random_rows[drive];
      EXPECT_EQ(std::to_string(expected), count) << chart << ", drive " << drive;
    }
  EXPECT_EQ("3", xpath(svg, "count(//*[@id='random-chart']/*[@class='drive'])"));
  EXPECT_EQ("0", xpath(svg, "count(//*[@id='read-time-chart'])")) << "a chart of read times without any";
}

// Every value of an attribute xmllint lists ( name="value" each), as numbers;
// one that is not a number whole fails the test.
std::vector<double> attribute_numbers(const std::string &file, const std::string &expression) {
  std::string out = run({"/usr/bin/xmllint", "--xpath", expression, file}).out;
  std::vector<double> numbers;
  for (size_t at = out.find("=\""); at != std::string::npos; at = out.find("=\"", at + 1)) {
    std::string value = out.substr(at + 2, out.find('"', at + 2) - at - 2);
    char *end = nullptr;
    numbers.push_back(std::strtod(value.c_str(), &end));
    EXPECT_TRUE(!value.empty() && *end == '\0' && std::isfinite(numbers.back()))
        << expression << ": " << value;
  }
  return numbers;
}

// The time of one read: per drive, a box per random row with read times, in
// the table's order (the widest range first, so each left of the one
// before), its median inside it; drives without times have none.
TEST(report_e2e, svg_has_a_box_per_random_row_with_read_times) {
  if (access("/usr/bin/xmllint", X_OK) != 0)
    SKIP_OR_FAIL("xmllint not found (Debian package: libxml2-utils)");
  std::string svg = scratch_dir() + "/times.svg";
  program_run result = run_report({"--svg", "-o", svg, test_data("linux_emulated_7200.txt"),
                                   test_data("linux_two_drives.txt"), test_data("linux_loop_timed.txt")});
  ASSERT_EQ(0, result.status) << result.err;
  EXPECT_EQ(0, run({"/usr/bin/xmllint", "--noout", svg}).status);
  // /dev/loop0 (17 ranges), a.img and b.img (no times), /dev/loop1 (16).
  const size_t boxes[] = {17, 0, 0, 16};
  EXPECT_EQ("4", xpath(svg, "count(//*[@id='read-time-chart']/*[@class='drive'])"));
  for (size_t drive = 0; drive < 4; ++drive) {
    std::string box =
        "//*[@id='read-time-chart']/*[@class='drive'][" + std::to_string(drive + 1) + "]/*[@class='box']";
    EXPECT_EQ(std::to_string(boxes[drive]), xpath(svg, "count(" + box + ")")) << "drive " << drive;
    if (boxes[drive] == 0) continue;
    std::vector<double> x = attribute_numbers(svg, box + "/*[@class='iqr']/@x"),
                        top = attribute_numbers(svg, box + "/*[@class='iqr']/@y"),
                        height = attribute_numbers(svg, box + "/*[@class='iqr']/@height"),
                        median = attribute_numbers(svg, box + "/*[@class='median']/@y1");
    ASSERT_EQ(boxes[drive], x.size()) << "drive " << drive;
    ASSERT_TRUE(top.size() == x.size() && height.size() == x.size() && median.size() == x.size());
    for (size_t i = 0; i < x.size(); ++i) {
      EXPECT_TRUE(i == 0 || x[i] < x[i - 1]) << "drive " << drive << ", box " << i;
      EXPECT_GE(height[i], 0) << "drive " << drive << ", box " << i;
      EXPECT_TRUE(median[i] >= top[i] && median[i] <= top[i] + height[i])
          << "drive " << drive << ", box " << i;
    }
  }
}

// Runs headless Chromium on a page with a fresh profile; extra: what to do.
program_run run_chromium(const std::string &page, const std::vector<std::string> &extra) {
  std::string profile = scratch_dir() + "/chromium-profile";
  EXPECT_EQ(0, system(("rm -rf " + profile).c_str()));
  std::vector<std::string> argv = {"/usr/bin/chromium",
                                   "--headless",
                                   "--no-sandbox",
                                   "--disable-gpu",
                                   "--disable-quic",
                                   "--no-first-run",
                                   "--disable-background-networking",
                                   "--disable-component-update",
                                   "--disable-sync",
                                   "--user-data-dir=" + profile};
  argv.insert(argv.end(), extra.begin(), extra.end());
  argv.push_back("file://" + page);
  return run(argv);
}

TEST(report_e2e, html_page_fetches_nothing_and_shows_charts_and_rows_in_a_browser) {
  std::string dir = scratch_dir(), page = dir + "/report.html";
  program_run result = run_report(
      {"--html", "-o", page, test_data("linux_two_drives.txt"), test_data("linux_failed_reads.txt")});
  ASSERT_EQ(0, result.status) << result.err;
  std::string html = read_file(page);
  for (const char *fetching : {"<script", "<link", "<img", "<iframe", "<object", "src=", "href=", "url(",
                               "@import", "http:", "https:"})
    EXPECT_EQ(std::string::npos, html.find(fetching)) << "the page holds " << fetching;

  if (access("/usr/bin/chromium", X_OK) != 0) SKIP_OR_FAIL("chromium not found (Debian package: chromium)");
  program_run dom = run_chromium(page, {"--dump-dom"});
  ASSERT_EQ(0, dom.status) << dom.err;
  EXPECT_EQ(1u, count_of(dom.out, "id=\"sequential-chart\""));
  EXPECT_EQ(1u, count_of(dom.out, "id=\"random-chart\""));
  // Points: 20 + 11, 20 + 10 and 20 + 11 rows. Table rows: per drive its
  // geometry, five figures and what it behaves like, and for each of its two
  // tables a header and the rows.
  EXPECT_EQ(92u, count_of(dom.out, "class=\"point"));
  EXPECT_EQ(3 * 7 + 6 + 92u, count_of(dom.out, "<tr>"));

  // A blank page of the same size gives the same picture every time; the
  // report's must differ from it and carry more.
  std::string blank = dir + "/blank.html", blank_png = dir + "/blank.png", report_png = dir + "/report.png";
  write_file(blank, "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body></body></html>\n");
  remove(report_png.c_str());
  ASSERT_EQ(0, run_chromium(blank, {"--screenshot=" + blank_png, "--window-size=1100,900"}).status);
  program_run shot = run_chromium(page, {"--screenshot=" + report_png, "--window-size=1100,900"});
  ASSERT_EQ(0, shot.status) << shot.err;
  std::string picture = read_file(report_png), empty = read_file(blank_png);
  ASSERT_GT(picture.size(), 8u) << "no screenshot";
  EXPECT_EQ(0u, picture.find("\x89PNG"));
  EXPECT_NE(empty, picture);
  EXPECT_GT(picture.size(), 4 * empty.size()) << "the page's picture is hardly more than a blank one";
}

// Four runs of a 32 MiB loop device against four more of it, and against
// four of it limited to 2000 reads a second, taken in turn.
TEST(report_e2e, compare_tells_a_slower_device_from_the_noise_of_its_runs) {
  struct {
    const char *other;
    const char *verdict;  // expected of nearly every row of 100 ms or more
  } sides[] = {{"linux_loop_as_is_again.txt", "~"}, {"linux_loop_throttled.txt", "slower"}};
  for (const auto &side : sides) {
    program_run result = run_report({"--compare", "--csv", test_data("linux_loop_as_is.txt"), test_data(side.other)});
    ASSERT_EQ(0, result.status) << result.err;
    std::vector<std::string> lines = split_lines(result.out);
    ASSERT_EQ("file,test,blocks_per_read,range_blocks,base_runs,base_us_per_read,base_min_us,base_max_us,runs,"
              "us_per_read,min_us,max_us,delta_pct,p_value,verdict,flags,bytes_per_read,range_bytes,base_file,"
              "base_root,metric",
              lines[0]);
    int rows = 0, expected = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
      std::vector<std::string> fields;
      std::stringstream record(lines[i]);
      for (std::string field; std::getline(record, field, ',');) fields.push_back(field);
      if (lines[i].back() == ',') fields.push_back("");
      ASSERT_EQ(21u, fields.size()) << lines[i];
      EXPECT_EQ("mean", fields[20]) << lines[i];
      EXPECT_EQ("4", fields[4]) << lines[i];
      EXPECT_EQ("4", fields[8]) << lines[i];
      if (fields[15].find("coarse") != std::string::npos) continue;
      ++rows;
      expected += fields[14] == side.verdict;
    }
    EXPECT_GE(rows, 20) << side.other;
    EXPECT_GE(expected, rows - 2) << side.other << ": " << expected << " of " << rows << " rows read "
                                  << side.verdict << "\n" << result.out;
  }
}

// Another drive's run cut short pairs by range as far as it goes, with a
// note: its 6 ranges (2048 down to 64 blocks) are 6 of the base's 16.
TEST(report_e2e, compare_pairs_a_run_cut_short_as_far_as_it_goes) {
  program_run result = run_report({"--compare", test_data("linux_loop_as_is.txt"), test_data("linux_cut_short.txt")});
  EXPECT_EQ(0, result.status) << result.err;
  EXPECT_NE(std::string::npos,
            result.err.find(": random table: 10 of base's 16 rows and 0 of new's 6 have no row of the same range on "
                            "the other side: listed as unpaired, not compared"))
      << result.err;
  EXPECT_EQ(20u + 6u, count_of(result.out, "  4+1"));
  EXPECT_EQ(10u, count_of(result.out, "  4+0  unpaired\n"));
  EXPECT_NE(std::string::npos, result.out.find("\nrange 1 MiB  ")) << result.out;
}

class report_windows : public each_build {};

TEST_P(report_windows, writes_the_same_csv_as_the_linux_build) {
  std::string dir = REPORT_TEST_DATA;
  const std::vector<std::string> args = {"--csv", "win64_crlf.txt", "linux_two_drives.txt"};
  program_run windows = run_report(args, nullptr, build(), dir.c_str());
  program_run linux = run_report(args, nullptr, native_build(), dir.c_str());
  EXPECT_EQ(0, windows.status) << windows.err;
  EXPECT_EQ(0, linux.status) << linux.err;
  EXPECT_EQ(1 + 31 + 31 + 30u, count_of(linux.out, "\r\n"));
  EXPECT_EQ(linux.out, windows.out);
}

INSTANTIATE_ON_WINDOWS_BUILD(report_windows);

// A disk that turns, emulated: 4 MiB in 64 tracks of 64 KiB at 15,000 rpm,
// with a track buffer and short seeks, so that a whole run of blockmeter
// takes about a minute and the turn shows within a few tracks.
class emulated_rotating : public testing::Test {
 protected:
  void TearDown() override {
    std::string why;
    if (stop_emulated_disk(&disk, &why) != 0) ADD_FAILURE() << why;
  }
  emulated_disk disk;
};

TEST_F(emulated_rotating, is_told_rotating_with_its_speed) {
  const disk_model model = {4 << 20, 15000, 64 << 10, 200, 0.3, 4};  // bytes, rpm, track, overhead, seeks
  START_EMULATED_DISK(&model, &disk);
  std::string capture = scratch_dir() + "/emulated-rotating.txt";
  program_run measured = run({"/bin/sh", "-c",
                              program_path(native_build(), "blockmeter") + " " + disk.node + " >" + capture + " 2>&1"});
  ASSERT_EQ(0, measured.status) << read_file(capture);
  // What it behaves like, from the JSON: each form's words for it are the output tests'.
  program_run json = run_report({"--json", capture});
  ASSERT_EQ(0, json.status) << json.err;
  nlohmann::json told = nlohmann::json::parse(json.out)["files"][0]["drives"][0]["device_model"];
  ASSERT_EQ("rotating", told["behaves_like"]) << told.dump(2);
  EXPECT_NEAR(15000, told["rotation"]["measured_rpm"].get<double>(), 1500) << told.dump(2);
}

}  // namespace
