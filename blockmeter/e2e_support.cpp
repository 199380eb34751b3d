#include "e2e_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

constexpr int run_timeout_ms = 120000;

void make_file(const std::string &path, size_t bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  uint32_t state = 12345;
  for (size_t i = 0; i < bytes; ++i) file.put((char)((state = state * 1103515245u + 12345u) >> 24));
}

program_run run_blockmeter(const std::vector<std::string> &args, const test_build *build, int limit_ms) {
  program_options options;
  options.timeout_ms = limit_ms > 0 ? limit_ms : std::max(run_timeout_ms, build->timeout_ms);
  program_run run;
  EXPECT_TRUE(run_program(build_command(build, program_path(build, "blockmeter"), args), &options, &run))
      << run.error;
  if (limit_ms == 0) {
    EXPECT_FALSE(run.timed_out) << "blockmeter did not end within " << options.timeout_ms / 1000 << " s";
  }
  return run;
}

const std::vector<std::string> as_nobody = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                            "--clear-groups"};

program_run run_blockmeter_under(const std::vector<std::string> &prefix,
                                 const std::vector<std::string> &args) {
  std::vector<std::string> argv = prefix;
  argv.push_back(program_path(native_build(), "blockmeter"));
  argv.insert(argv.end(), args.begin(), args.end());
  program_options options;
  options.timeout_ms = run_timeout_ms;
  program_run run;
  EXPECT_TRUE(run_program(argv, &options, &run)) << run.error;
  EXPECT_FALSE(run.timed_out) << "blockmeter did not end within " << options.timeout_ms / 1000 << " s";
  return run;
}

void check_read_reports(const std::string &err, const std::vector<std::string> &roots) {
  for (const std::string &line : split_lines(err)) {
    const std::string *root = nullptr;
    bool loop_warning = false;
    for (const std::string &candidate : roots) {
      if (line.starts_with("blockmeter: " + candidate + ": ")) root = &candidate;
      loop_warning = loop_warning || line.starts_with("blockmeter: warning: " + candidate + " is ");
    }
    if (loop_warning) continue;
    read_time_line times;
    if (parse_read_time_line(line, &times)) {
      EXPECT_NE(roots.end(), std::find(roots.begin(), roots.end(), times.root)) << line;
      continue;
    }
    ASSERT_NE(nullptr, root) << "names none of the roots: " << line;
    const char *row = line.c_str() + strlen("blockmeter: : ") + root->size();
    if (strncmp(row, "reading ", strlen("reading ")) == 0) continue;  // its device line
    long long key = 0;
    int bad = 0, reads = 0, end = 0;
    bool parsed = sscanf(row, "sequential %lld blocks: %d of %d reads failed or came back short; first: %n",
                         &key, &bad, &reads, &end) == 3 ||
                  sscanf(row, "random range %lld: %d of %d reads failed or came back short; first: %n", &key,
                         &bad, &reads, &end) == 3;
    EXPECT_TRUE(parsed && bad >= 1 && bad <= reads && end > 0 && row[end] != '\0') << line;
  }
}

bool reports_bad_reads(const std::string &err) {
  return err.find(" reads failed or came back short; first: ") != std::string::npos;
}

bool parse_read_time_line(const std::string &line, read_time_line *parsed) {
  static const std::string prefix = "blockmeter: ", marker = ": read time us: ";
  size_t times = line.rfind(marker);
  if (!line.starts_with(prefix) || times == std::string::npos) return false;
  // The row is the last part before the marker that names one: a root may
  // hold ": " itself.
  size_t row = std::string::npos;
  for (const char *kind : {": sequential ", ": random range "}) {
    size_t at = line.rfind(kind, times);
    if (at != std::string::npos && (row == std::string::npos || at > row)) row = at;
  }
  if (row == std::string::npos || row < prefix.size()) return false;
  parsed->root = line.substr(prefix.size(), row - prefix.size());
  parsed->row = line.substr(row + 2, times - row - 2);
  double *p = parsed->percentiles;
  int end = 0;
  int fields = sscanf(
      line.c_str() + times + marker.size(),
      "first %lf, min %lf, p10 %lf, p25 %lf, p50 %lf, p75 %lf, p90 %lf, p99 %lf, p99.9 %lf, max "
      "%lf%n",
      &parsed->first, &parsed->min, &p[0], &p[1], &p[2], &p[3], &p[4], &p[5], &p[6], &parsed->max, &end);
  return fields == 10 && line.c_str()[times + marker.size() + end] == '\0';
}

// The rows of root's tables in out, as lines of read times name them, with
// their reads and milliseconds.
struct table_row {
  std::string row;
  long long reads;
  int ms;
};

static std::vector<table_row> rows_of(const std::string &out, const std::string &root) {
  std::vector<table_row> rows;
  bool in_drive = false, random = false;
  for (const std::string &line : split_lines(out)) {
    if (line.starts_with("drive ")) in_drive = line.starts_with("drive " + root + " information: ");
    if (!in_drive) continue;
    if (line == "Random read test") random = true;
    long long key = 0, reads = 0;
    int ms = 0;
    double speed = 0;
    if (sscanf(line.c_str(), "%lld %lld %d %lf", &key, &reads, &ms, &speed) != 4) continue;
    rows.push_back(
        {(random ? "random range " : "sequential ") + std::to_string(key) + (random ? "" : " blocks"), reads,
         ms});
  }
  return rows;
}

void check_read_times(const std::string &out, const std::string &err, const std::string &root) {
  std::vector<table_row> rows = rows_of(out, root);
  ASSERT_FALSE(rows.empty()) << "no rows of " << root << " in:\n" << out;
  std::vector<std::string> lines = split_lines(err);
  size_t next = 0;  // the row whose line of read times comes next
  std::string last_row;
  for (size_t i = 0; i < lines.size(); ++i) {
    read_time_line times;
    if (!parse_read_time_line(lines[i], &times) || times.root != root) {
      if (lines[i].starts_with("blockmeter: " + root + ": ") && reports_bad_reads(lines[i])) {
        EXPECT_TRUE(i > 0 && lines[i].starts_with("blockmeter: " + root + ": " + last_row + ": "))
            << "not right after the read times of its row: " << lines[i];
      }
      last_row.clear();
      continue;
    }
    while (next < rows.size() && rows[next].reads == 0) ++next;
    ASSERT_LT(next, rows.size()) << "read times of no row with reads: " << lines[i];
    const table_row &row = rows[next++];
    EXPECT_EQ(row.row, times.row) << lines[i];
    last_row = times.row;
    const double *p = times.percentiles;
    EXPECT_TRUE(times.min <= p[0] && std::is_sorted(p, p + 7) && p[6] <= times.max)
        << "out of order: " << lines[i];
    EXPECT_TRUE(times.min <= times.first && times.first <= times.max) << lines[i];
    // The table's time is the tick's, whole milliseconds; besides the reads it
    // holds the loop's own work, well under a microsecond a read.
    double longest_mean_us = (row.ms + 1) * 1000.0 / (double)row.reads;
    double shortest_mean_us = (row.ms - 1) * 1000.0 / (double)row.reads - 1;
    EXPECT_LE(times.min, longest_mean_us)
        << lines[i] << "; the row's " << row.reads << " reads in " << row.ms << " ms";
    EXPECT_GE(times.max, shortest_mean_us)
        << lines[i] << "; the row's " << row.reads << " reads in " << row.ms << " ms";
  }
  while (next < rows.size() && rows[next].reads == 0) ++next;
  EXPECT_EQ(rows.size(), next) << "no read times for the row " << (next < rows.size() ? rows[next].row : "");
}
