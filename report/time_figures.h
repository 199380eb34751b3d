// What the times of single reads say. After each row that made reads,
// blockmeter prints the time of its first read, the shortest, seven
// percentiles and the longest (report.h: read_us). Here are the names every
// form gives them, and per table of a drive the figures its summary and page
// show: the median and p99 at the table's two ends, the row whose slow reads
// lag its median most, and first reads far slower than the rest of their row.
#pragma once

#include <string>
#include <vector>

#include "report.h"
#include "runs.h"
#include "wording.h"

// Each time's name in read_us order, as the JSON names it: "first", "min",
// "p10", "p25", "p50", "p75", "p90", "p99", "p999", "max". The CSV's column
// of each is read_NAME_us.
extern const char *const read_time_keys[read_time_count];

// A first read is slow, and named, when it took over slow_first_read_ratio
// times its row's median and over slow_first_read_us: the device may have
// been idle or asleep.
constexpr double slow_first_read_ratio = 10;
constexpr double slow_first_read_us = 1000;

// Whether one run's row has a slow first read, as above; false for a row
// without read times.
bool is_slow_first_read(const report_row *row);

// The read-time figures of one table of a drive's runs. A row counts where
// some run printed its read times; its times are the medians over those runs
// (run_row). Rows are named by their place in the rows given.
struct table_times {
  int timed_rows;             // rows with read times; the fields below are set only when above 0
  size_t low_end, high_end;   // the smallest and the largest read size, or the narrowest and the widest range
  bool tail_set;              // some row's median p50 is above 0: the two below are set
  size_t longest_tail;        // the row of the largest p99 / p50 (the first of equals)
  double tail_ratio;          // its p99 / p50
  int slow_first_reads;       // rows of single runs with a slow first read (is_slow_first_read)
  size_t slow_run, slow_row;  // the one of them slowest against its row's median: its run (group order)
                              // and its place in that run's table
  double slow_ratio;          // its first read / its p50
};

// The figures of one table of group, whose rows pair_runs gave (paired as far
// as the runs pair).
void derive_table_times(const drive_group *group, const std::vector<run_row> *rows, bool random,
                        table_times *times);

// A drive's read-time figures in words, each labelled and marked with its
// table as describe_figures' are (wording.h), appended to texts: per table
// with read times, the median and p99 at each end, the longest tail, and the
// slowest first read. Nothing for a drive without read times.
void describe_read_times(const drive_group *group, const text_symbols *symbols,
                         std::vector<figure_text> *texts);

// A time of one read to read: "301.6 us" under 1 ms, "1.94 ms", "25.1 ms",
// "312 ms" under 1 s, then "1.50 s".
std::string read_time_text(double us, const text_symbols *symbols);

// How many times: "19.8" under 20, "58" under 100, then two significant
// digits in groups of three: "4,800".
std::string ratio_text(double ratio);
