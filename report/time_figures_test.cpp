// The times of single reads: their medians over runs, the figures of a table
// and their words, against hand-worked values.
#include <gtest/gtest.h>

#include "test_data.h"
#include "time_figures.h"

namespace {

// A row of 1000 reads in 200 ms whose reads took first, then p50 and p99 as
// given, the other times spread around them.
report_row timed_row(int64_t first, double first_us, double p50, double p99) {
  report_row row = {first, 1000, 200, 1.0, "1.000000", false};
  row.timed = true;
  row.read_us = {first_us, p50 / 2, p50 * 0.8, p50 * 0.9, p50, p50 * 1.1, p50 * 1.2, p99, p99 * 1.5, p99 * 2};
  return row;
}

report_drive drive_of(std::vector<report_row> random) {
  report_drive drive = {};
  drive.root = "d", drive.block_size = 512, drive.n_blocks = 16;
  drive.random.rows = std::move(random);
  return drive;
}

drive_group group_of(const std::vector<report_drive> *drives) {
  drive_group group;
  for (const report_drive &drive : *drives) group.runs.push_back({nullptr, &drive});
  return group;
}

// Each case is one side of one of the rule's two bounds.
TEST(time_figures, a_first_read_is_slow_over_ten_times_its_median_and_over_one_ms) {
  const struct {
    double first, p50;
    bool slow;
  } cases[] = {
      {1100, 100, true},   // 11 times, 1.1 ms
      {1100, 110, false},  // 10 times exactly
      {999.9, 50, false},  // 20 times, under 1 ms
      {1000, 50, false},   // 20 times, 1 ms exactly
      {1000.1, 50, true},  // 20 times, just over 1 ms
      {312000, 65, true},  // 4800 times
  };
  for (const auto &c : cases) {
    report_row row = timed_row(16, c.first, c.p50, c.p50);
    EXPECT_EQ(c.slow, is_slow_first_read(&row)) << c.first << " against " << c.p50;
    row.timed = false;
    EXPECT_FALSE(is_slow_first_read(&row)) << "a row without times";
  }
}

// Three runs with times (the middle of 10, 30, 20 is 20) and one without,
// which has reads but no say in the times; and a row two runs reached (the
// median of 100 and 300 is 200).
TEST(runs, each_read_time_is_its_median_over_the_runs_that_printed_it) {
  std::vector<report_drive> runs = {drive_of({timed_row(16, 500, 10, 100), timed_row(8, 50, 100, 1000)}),
                                    drive_of({timed_row(16, 700, 30, 300), timed_row(8, 70, 300, 3000)}),
                                    drive_of({timed_row(16, 600, 20, 200)}),
                                    drive_of({{16, 1000, 150, 1.0, "1.000000", false}})};
  drive_group group = group_of(&runs);
  std::vector<run_row> rows;
  std::string problem;
  ASSERT_EQ(0, pair_runs(&group, true, &rows, &problem)) << problem;
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ(4, rows[0].runs);
  EXPECT_EQ(3, rows[0].timed_runs);
  EXPECT_DOUBLE_EQ(20, rows[0].median_read_us[read_p50]);
  EXPECT_DOUBLE_EQ(200, rows[0].median_read_us[read_p99]);
  EXPECT_DOUBLE_EQ(600, rows[0].median_read_us[read_first]);
  EXPECT_DOUBLE_EQ(100, rows[0].min_read_us[read_p99]);
  EXPECT_DOUBLE_EQ(300, rows[0].max_read_us[read_p99]);
  EXPECT_EQ(4u, rows[0].us.size()) << "the mean time per read still of all four runs";
  EXPECT_EQ(2, rows[1].timed_runs);
  EXPECT_DOUBLE_EQ(2000, rows[1].median_read_us[read_p99]);
  EXPECT_DOUBLE_EQ(200, rows[1].median_read_us[read_p50]);
}

// Ranges 16 down to 2 with p50 and p99 of 100 and 500 (5 times), 50 and 400
// (8: the largest ratio, though neither the largest p99 nor the smallest
// p50), 400 and 3200 (8 again: not the first of equals) and 20 and 60. The
// slow first reads are range 8's in run 1 (1500 / 50 = 30 times) and range
// 16's in run 2 (3000 / 100 = 30 times, and 3000.5 is more).
TEST(time_figures, a_tables_ends_its_longest_tail_and_its_slowest_first_read) {
  std::vector<report_drive> runs = {drive_of({timed_row(16, 900, 100, 500), timed_row(8, 1500, 50, 400),
                                              timed_row(4, 900, 400, 3200), timed_row(2, 100, 20, 60)}),
                                    drive_of({timed_row(16, 3000.5, 100, 500), timed_row(8, 100, 50, 400),
                                              timed_row(4, 900, 400, 3200), timed_row(2, 100, 20, 60)})};
  drive_group group = group_of(&runs);
  std::vector<run_row> rows;
  std::string problem;
  ASSERT_EQ(0, pair_runs(&group, true, &rows, &problem)) << problem;
  table_times t;
  derive_table_times(&group, &rows, true, &t);
  EXPECT_EQ(4, t.timed_rows);
  EXPECT_EQ(3u, t.low_end) << "range 2";
  EXPECT_EQ(0u, t.high_end) << "range 16";
  ASSERT_TRUE(t.tail_set);
  EXPECT_EQ(1u, t.longest_tail);
  EXPECT_DOUBLE_EQ(8, t.tail_ratio);
  EXPECT_EQ(2, t.slow_first_reads);
  EXPECT_EQ(1u, t.slow_run);
  EXPECT_EQ(0u, t.slow_row);
  EXPECT_DOUBLE_EQ(30.005, t.slow_ratio);

  // No times at all: no figures, and no words for them.
  std::vector<report_drive> old = {drive_of({{16, 1000, 150, 1.0, "1.000000", false}})};
  drive_group old_group = group_of(&old);
  pair_runs(&old_group, true, &rows, &problem);
  derive_table_times(&old_group, &rows, true, &t);
  EXPECT_EQ(0, t.timed_rows);
  EXPECT_FALSE(t.tail_set);
  std::vector<figure_text> texts;
  describe_read_times(&old_group, &plain_symbols, &texts);
  EXPECT_TRUE(texts.empty());
}

TEST(time_figures, times_and_ratios_in_words) {
  const struct {
    double us;
    const char *text;
  } times[] = {{999.9, "999.9 us"}, {1000, "1.00 ms"}, {312000, "312 ms"}, {1.5e6, "1.50 s"}};
  for (const auto &t : times) EXPECT_EQ(t.text, read_time_text(t.us, &plain_symbols)) << t.us;
  const struct {
    double ratio;
    const char *text;
  } ratios[] = {{19.96, "20.0"}, {99.4, "99"}, {4812, "4,800"}, {1234567, "1,200,000"}};
  for (const auto &r : ratios) EXPECT_EQ(r.text, ratio_text(r.ratio)) << r.ratio;
}

// Worked by hand from the emulated disk's capture. Sequential: 1 block reads
// in 301.6 us (p50) and 1935.4 (p99), 200 blocks in 1632.3 and 10829.8; the
// largest p99 / p50 is 32 blocks' 8667.1 / 287.2 = 30.2; 18 rows' first reads
// are over 10 times their median and 1 ms, the most 32 blocks' 17248.3 /
// 287.2 = 60.1. Random: range 1024 alone has a slow first read, 8807.7 /
// 304.6 = 28.9 times.
TEST(time_figures, the_figures_of_a_real_run_in_words) {
  report_input input = parse_named("emulated", read_test_data("linux_emulated_7200.txt"));
  ASSERT_EQ(1u, input.drives.size());
  drive_group group = {{{&input, &input.drives[0]}}};
  std::vector<figure_text> texts;
  describe_read_times(&group, &plain_symbols, &texts);
  std::vector<std::string> lines;
  for (const figure_text &text : texts)
    lines.push_back(std::string(text.random ? "random " : "sequential ") + text.label + ": " + text.text);
  const std::vector<std::string> expected = {
      "sequential read time, smallest reads: median 301.6 us, p99 1.94 ms (1 block, 512 B per read; smallest "
      "of 20 rows with read times)",
      "sequential read time, largest reads: median 1.63 ms, p99 10.8 ms (200 blocks, 100 KiB per read; "
      "largest of 20 rows with read times)",
      "sequential longest tail: p99 8.67 ms, 30 times the median 287.2 us (32 blocks, 16 KiB per read; the "
      "largest p99/p50 of 20 rows with read times)",
      "sequential slow first read: the first read took 17.2 ms, 60 times its row's median: the device may "
      "have been idle or asleep (32 blocks, 16 KiB per read; 17 more rows alike)",
      "random read time, widest range: median 12.8 ms, p99 20.9 ms (range 64 MiB, 131072 blocks; widest of "
      "17 rows with read times)",
      "random read time, narrowest range: median 300.5 us, p99 2.26 ms (range 1 KiB, 2 blocks; narrowest of "
      "17 rows with read times)",
      "random longest tail: p99 3.31 ms, 10.9 times the median 304.6 us (range 512 KiB, 1024 blocks; the "
      "largest p99/p50 of 17 rows with read times)",
      "random slow first read: the first read took 8.81 ms, 29 times its row's median: the device may have "
      "been idle or asleep (range 512 KiB, 1024 blocks)"};
  EXPECT_EQ(expected, lines);
}

}  // namespace
