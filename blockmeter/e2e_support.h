// What the end-to-end suites of the built blockmeter share.
#pragma once

#include <string>
#include <vector>

#include "test_build.h"

// Writes bytes of data no layer can compress or skip to path.
void make_file(const std::string &path, size_t bytes);

// Runs the build's blockmeter with args, within two minutes; or, given
// limit_ms, for that long at most, ended then without failing the test.
program_run run_blockmeter(const std::vector<std::string> &args, const test_build *build = native_build(),
                           int limit_ms = 0);

// Runs this build's blockmeter with args under the command prefix (such as
// strace or setpriv), within two minutes.
program_run run_blockmeter_under(const std::vector<std::string> &prefix,
                                 const std::vector<std::string> &args);

// The command prefix that runs a program as nobody.
extern const std::vector<std::string> as_nobody;

// Checks that every line of err is the device line of one of roots, a
// warning that one of them is read through a loop device without direct I/O,
// the read times of one of its rows (in order: min <= p10 <= ... <= max), or
// reports reads of one of them that failed or came back short, naming its
// row and the first reason.
void check_read_reports(const std::string &err, const std::vector<std::string> &roots);

// Whether err reports reads that failed or came back short.
bool reports_bad_reads(const std::string &err);

// What a line of read times says: "blockmeter: ROOT: ROW: read time us:
// first F, min M, p10 ..., p99.9 ..., max X".
struct read_time_line {
  std::string root, row;                   // row: "sequential 11 blocks" or "random range 4096"
  double first, min, percentiles[7], max;  // p10, p25, p50, p75, p90, p99, p99.9
};

// Parses line; false when it is no line of read times.
bool parse_read_time_line(const std::string &line, read_time_line *parsed);

// Checks root's rows in out (blockmeter's standard output) against err: each
// row that made reads has its line of read times, in the rows' order, with
// its percentiles in order between its smallest and largest time, and the
// mean time per read its table row gives within them (give or take the
// tick's millisecond); a row's report of failed or short reads comes right
// after its line of read times.
void check_read_times(const std::string &out, const std::string &err, const std::string &root);
