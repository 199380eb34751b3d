// Runs of one drive grouped and paired row by row, and two sides compared.
#include <gtest/gtest.h>

#include <cmath>

#include "compare.h"
#include "figures.h"
#include "output_compare.h"
#include "test_data.h"

namespace {

report_row row(int64_t first, int64_t reads, int64_t ms) { return {first, reads, ms, 1.0, "1.000000", false}; }

// A drive with random rows of the given reads and ms, ranges 16, 8, 4, 2.
report_drive drive(const std::string &root, std::vector<std::pair<int64_t, int64_t>> random,
                   int64_t n_blocks = 16) {
  report_drive d = {};
  d.root = root, d.block_size = 512, d.n_blocks = n_blocks;
  d.sequential.rows = {row(1, 1000, 200), row(11, 1000, 300)};
  int64_t range = n_blocks;
  for (auto [reads, ms] : random) d.random.rows.push_back(row(range, reads, ms)), range /= 2;
  return d;
}

report_input input(const std::string &name, std::vector<report_drive> drives) {
  report_input in;
  in.name = name;
  in.drives = std::move(drives);
  return in;
}

// Compares base's runs with other's by metric; either that makes no side fails the test.
void compare_runs(const report_input *base, const report_input *other, compare_side *a, compare_side *b,
                  comparison *c, row_metric metric = metric_mean) {
  std::string problem;
  ASSERT_EQ(0, make_compare_side(base, a, &problem, metric)) << base->name << ": " << problem;
  ASSERT_EQ(0, make_compare_side(other, b, &problem, metric)) << other->name << ": " << problem;
  compare_sides(a, b, default_alpha, c);
}

// Three runs of d over two files, their read counts adapted differently,
// one cut short; e alone; d of another size apart.
TEST(runs, group_across_inputs_and_pair_rows_by_place) {
  std::vector<report_input> inputs = {
      input("a.txt", {drive("d", {{1000, 150}, {2000, 400}}), drive("e", {{1000, 100}})}),
      input("b.txt", {drive("d", {{2000, 320}, {1000, 150}}), drive("d", {{500, 70}}), drive("d", {}, 32)})};
  std::vector<drive_group> groups;
  group_runs(&inputs, &groups);
  ASSERT_EQ(3u, groups.size());
  EXPECT_EQ(3u, groups[0].runs.size());
  EXPECT_EQ("3 runs (a.txt: 1, b.txt: 2)", describe_runs(&groups[0]));
  EXPECT_EQ(1u, groups[1].runs.size());
  EXPECT_EQ(32, groups[2].runs[0].drive->n_blocks);

  std::vector<run_row> rows;
  std::string problem;
  ASSERT_EQ(0, pair_runs(&groups[0], true, &rows, &problem)) << problem;
  ASSERT_EQ(2u, rows.size());
  // 150, 160 and 140 us per read; then 200 and 150 from the two runs that got there.
  EXPECT_EQ(3, rows[0].runs);
  EXPECT_DOUBLE_EQ(150, rows[0].median_us);
  EXPECT_DOUBLE_EQ(140, rows[0].min_us);
  EXPECT_DOUBLE_EQ(160, rows[0].max_us);
  EXPECT_NEAR(100.0 / 15, spread_pct(&rows[0]), 1e-9);
  EXPECT_EQ(2, rows[1].runs);
  EXPECT_DOUBLE_EQ(175, rows[1].median_us);
  EXPECT_TRUE(rows[0].coarse) << "70 ms in one run";

  // Rows at the same place with other read sizes do not pair.
  inputs[1].drives[0].random.rows[1].first = 5;
  EXPECT_EQ(-1, pair_runs(&groups[0], true, &rows, &problem));
  EXPECT_EQ("random row 2 does not pair: run 1 has 8 blocks of range, run 2 has 5", problem);
}

TEST(compare, a_side_is_the_runs_of_one_drive) {
  compare_side side;
  std::string problem;
  report_input empty = input("none.txt", {});
  EXPECT_EQ(-1, make_compare_side(&empty, &side, &problem));
  EXPECT_EQ("holds no runs", problem);
  report_input two = input("two.txt", {drive("d", {{1000, 150}}), drive("e", {{1000, 150}})});
  EXPECT_EQ(-1, make_compare_side(&two, &side, &problem));
  EXPECT_EQ(0u, problem.find("holds runs of more than one drive (d with 16 blocks of 512 B, and e")) << problem;
  report_input runs = input("runs.txt", {drive("d", {{1000, 150}}), drive("d", {{1000, 160}})});
  EXPECT_EQ(0, make_compare_side(&runs, &side, &problem)) << problem;
  EXPECT_EQ(2u, side.group.runs.size());
}

// Four runs a side: 150 to 153 us against 180 to 183 us on the first random
// row is as far apart as 4 and 4 runs can be (p = 2/70); the second row's
// runs interleave. The geometric mean takes rows of 100 ms or more alone.
TEST(compare, verdicts_deltas_and_geometric_mean) {
  report_input base = input("base", {}), other = input("other", {});
  for (int i = 0; i < 4; ++i) {
    base.drives.push_back(drive("d", {{1000, 150 + i}, {1000, 200 + 2 * i}, {1000, 50}}));
    other.drives.push_back(drive("d", {{1000, 180 + i}, {1000, 201 + 2 * i}, {1000, 99}}));
  }
  compare_side a, b;
  comparison c;
  ASSERT_NO_FATAL_FAILURE(compare_runs(&base, &other, &a, &b, &c));
  EXPECT_TRUE(c.can_reach_alpha);
  ASSERT_EQ(3u, c.random.rows.size());
  const compared_row &first = c.random.rows[0], &second = c.random.rows[1], &coarse = c.random.rows[2];
  EXPECT_NEAR(2.0 / 70, first.p, 1e-12);
  EXPECT_EQ(verdict_slower, first.verdict);
  EXPECT_NEAR((181.5 - 151.5) / 151.5 * 100, first.delta_pct, 1e-9);
  EXPECT_EQ(verdict_same, second.verdict);
  EXPECT_TRUE(coarse.coarse);
  EXPECT_EQ(verdict_slower, coarse.verdict) << "a coarse row is still compared";
  EXPECT_EQ(2, c.random.geomean_rows);
  EXPECT_NEAR(std::sqrt(181.5 / 151.5 * 204 / 203), c.random.geomean_ratio, 1e-12);

  // Three runs a side cannot reach 0.05 at all.
  base.drives.pop_back(), other.drives.pop_back();
  ASSERT_NO_FATAL_FAILURE(compare_runs(&base, &other, &a, &b, &c));
  EXPECT_FALSE(c.can_reach_alpha);
  EXPECT_EQ(verdict_same, c.random.rows[0].verdict);
}

// A whole run of a drive as blockmeter makes it: 20 sequential steps of 1 to
// 200 blocks and a random row per halving of n_blocks, each of 200 ms.
report_drive whole_drive(int64_t block_size, int64_t n_blocks) {
  report_drive d = {};
  d.root = "d", d.block_size = block_size, d.n_blocks = n_blocks;
  for (int64_t blocks : {1, 11, 21, 32, 42, 53, 63, 74, 84, 95, 105, 116, 126, 137, 147, 158, 168, 179, 189, 200})
    d.sequential.rows.push_back(row(blocks, 1000, 200));
  for (int64_t range = n_blocks; range > 1; range /= 2) d.random.rows.push_back(row(range, 1000, 200));
  return d;
}

// 8 MiB of 512-byte blocks against 16 MiB of 4096-byte blocks: of the reads,
// only 168 blocks of 512 B and 21 of 4096 B are the same bytes (84 KiB); of
// the ranges, 8 MiB down to 8 KiB are both sides', 16 MiB is new's alone and
// 4, 2 and 1 KiB base's alone.
TEST(compare, rows_pair_by_their_bytes_across_geometries) {
  report_input base = input("base", {whole_drive(512, 16384)}), other = input("new", {whole_drive(4096, 4096)});
  compare_side a, b;
  comparison c;
  ASSERT_NO_FATAL_FAILURE(compare_runs(&base, &other, &a, &b, &c));
  EXPECT_TRUE(c.block_sizes_differ);

  ASSERT_EQ(39u, c.sequential.rows.size());
  std::vector<const compared_row *> paired;
  for (const compared_row &r : c.sequential.rows)
    if (r.base != nullptr && r.other != nullptr) paired.push_back(&r);
  ASSERT_EQ(1u, paired.size());
  EXPECT_EQ(168, paired[0]->base->first);
  EXPECT_EQ(21, paired[0]->other->first);
  EXPECT_EQ(86016, paired[0]->bytes);
  EXPECT_TRUE(paired[0]->compared);
  EXPECT_EQ(19, c.sequential.unpaired_base);
  EXPECT_EQ(19, c.sequential.unpaired_other);
  for (size_t i = 1; i < c.sequential.rows.size(); ++i)
    EXPECT_LT(c.sequential.rows[i - 1].bytes, c.sequential.rows[i].bytes) << "row " << i;

  ASSERT_EQ(15u, c.random.rows.size());
  const compared_row &widest = c.random.rows[0], &first_paired = c.random.rows[1], &last = c.random.rows[14];
  EXPECT_EQ(nullptr, widest.base);
  EXPECT_EQ(16 << 20, widest.bytes);
  EXPECT_FALSE(widest.compared);
  EXPECT_EQ(16384, first_paired.base->first);
  EXPECT_EQ(2048, first_paired.other->first);
  EXPECT_EQ(2, last.base->first);
  EXPECT_EQ(nullptr, last.other);
  EXPECT_EQ(3, c.random.unpaired_base);
  EXPECT_EQ(1, c.random.unpaired_other);
  EXPECT_EQ(11 + 1, c.random.geomean_rows + c.sequential.geomean_rows) << "paired rows alone";
  EXPECT_EQ(0u, pairing_note(&c).find("base reads blocks of 512 B and new of 4 KiB: ")) << pairing_note(&c);
}

// Two modes a side, 30 runs each. Base: 12 runs of 50 to 61 us, 18 of 100
// to 117 (median 102.5). New: 16 runs of 80 to 95, 14 of 1000 to 1013
// (median 94.5, -7.8 %). Yet new's 16 short runs each beat base's 12 short
// ones and its 14 long ones beat all 30: U = 16 * 12 + 14 * 30 = 612 of 900,
// far above the middle 450 (p 0.016): the test finds new slower. The row
// says neither, and why.
TEST(compare, a_verdict_follows_its_test_and_no_median_contradicts_it) {
  std::string why;
  report_input base = input("base", {}), other = input("new", {});
  for (int i = 0; i < 30; ++i) {
    base.drives.push_back(drive("d", {{1000, i < 12 ? 50 + i : 100 + (i - 12)}}));
    other.drives.push_back(drive("d", {{1000, i < 16 ? 80 + i : 1000 + (i - 16)}}));
  }
  compare_side a, b;
  comparison c;
  ASSERT_NO_FATAL_FAILURE(compare_runs(&base, &other, &a, &b, &c));
  const compared_row &row = c.random.rows[0];
  EXPECT_NEAR((94.5 - 102.5) / 102.5 * 100, row.delta_pct, 1e-9);
  EXPECT_LT(row.p, default_alpha);
  EXPECT_EQ(1, row.direction);
  EXPECT_EQ(verdict_same, row.verdict);
  EXPECT_TRUE(row.medians_disagree);
  std::vector<comparison> one = {c};
  report_sink text;
  ASSERT_EQ(0, write_compare_text(&one, default_alpha, &text, &why));
  EXPECT_NE(std::string::npos, text.text.find("\nnote: range 8 KiB: the rank test finds new slower (p 0.016), but "
                                              "new's median is 7.8 % lower: no verdict, shown as ~\n"))
      << text.text;

  // Shift new's short runs above base's long ones: both now say slower.
  for (int i = 0; i < 16; ++i) other.drives[i].random.rows[0].ms = 200 + i;
  ASSERT_NO_FATAL_FAILURE(compare_runs(&base, &other, &a, &b, &c));
  EXPECT_EQ(verdict_slower, c.random.rows[0].verdict);
  EXPECT_FALSE(c.random.rows[0].medians_disagree);
}

// One new run far slower than 60 base runs: the exact test's p is 2 / 61,
// under 0.05, as it stays with a 61st base run (2 / 62).
TEST(compare, one_run_against_many_is_tested_exactly) {
  for (int base_runs : {60, 61}) {
    report_input base = input("base", {}), other = input("new", {drive("d", {{1000, 300}})});
    for (int i = 0; i < base_runs; ++i) base.drives.push_back(drive("d", {{1000, 150 + i % 7}}));
    compare_side a, b;
    comparison c;
    ASSERT_NO_FATAL_FAILURE(compare_runs(&base, &other, &a, &b, &c));
    EXPECT_TRUE(c.can_reach_alpha) << base_runs;
    EXPECT_TRUE(c.exact) << base_runs;
    EXPECT_EQ(verdict_slower, c.random.rows[0].verdict) << base_runs << " base runs: p " << c.random.rows[0].p;
  }
}

// Four runs a side can reach 0.05 (2 / 70); a row that one run cut short
// left to 4 against 3 cannot (2 / 35), and says so; the other rows do not.
TEST(compare, a_row_with_runs_cut_short_says_it_cannot_reach_alpha) {
  report_input base = input("base", {}), other = input("new", {});
  for (int i = 0; i < 4; ++i) {
    base.drives.push_back(drive("d", {{1000, 150 + i}, {1000, 150 + i}}));
    other.drives.push_back(drive("d", {{1000, 180 + i}, {1000, 180 + i}}));
  }
  other.drives[3].random.rows.pop_back();
  compare_side a, b;
  comparison c;
  ASSERT_NO_FATAL_FAILURE(compare_runs(&base, &other, &a, &b, &c));
  ASSERT_TRUE(c.can_reach_alpha);
  ASSERT_EQ(2u, c.random.rows.size());
  EXPECT_FALSE(c.random.rows[0].too_few_runs);
  EXPECT_EQ(verdict_slower, c.random.rows[0].verdict);
  EXPECT_TRUE(c.random.rows[1].too_few_runs);
  EXPECT_EQ(verdict_same, c.random.rows[1].verdict);
  for (const compared_row &row : c.sequential.rows) EXPECT_FALSE(row.too_few_runs);
}

// /dev/sda on two hosts: the same root and size, another device line. They
// are two drives, each with its own runs, and the summary says so; a side
// of a comparison holding both is refused.
TEST(runs, runs_that_read_other_devices_are_other_drives) {
  std::string why;
  report_drive hdd = drive("/dev/sda", {{1000, 8000}}), ssd = hdd;
  hdd.device = "/dev/sda, 1 TiB, rotational, model \"HDD\", transport sata";
  ssd.device = "/dev/sda, 1 TiB, non-rotational, model \"SSD\", transport sata";
  std::vector<report_input> inputs = {input("host1.txt", {hdd, hdd}), input("host2.txt", {ssd})};
  std::vector<drive_group> groups;
  group_runs(&inputs, &groups);
  ASSERT_EQ(2u, groups.size());
  EXPECT_EQ(2u, groups[0].runs.size());
  EXPECT_EQ(1u, groups[1].runs.size());
  EXPECT_EQ(1, count_namesakes(&groups, &groups[1]));
  report_sink summary;
  ASSERT_EQ(0, write_summary(&inputs, &summary, &why));
  EXPECT_EQ(2u, count_in(summary.text, "  this root and size name 2 drives: the runs that read another device are "
                                       "another drive, shown apart\n"))
      << summary.text;

  report_input mixed = input("mixed.txt", {hdd, ssd});
  compare_side side;
  std::string problem;
  EXPECT_EQ(-1, make_compare_side(&mixed, &side, &problem));
  EXPECT_EQ(0u, problem.find("holds runs of more than one drive (/dev/sda with 16 blocks of 512 B, reading /dev/sda, "
                             "1 TiB, rotational"))
      << problem;
}

// Five runs a side. On the first row base's runs take 200 to 204 us a read
// and new's 240 to 244: the observed medians, 202 and 242, are as far apart
// as any split can put them, and a split does so when the base keeps 200,
// 201 and 202 and new keeps 242, 243 and 244: C(4, 2) = 6 ways, and 6 more
// mirrored, so p = 12 / 252, slower. The second row is coarse and the third
// one of new's runs did not reach, so neither counts.
TEST(compare, a_table_has_one_verdict_from_its_whole_runs) {
  report_input base = input("base", {}), other = input("new", {});
  for (int i = 0; i < 5; ++i) {
    base.drives.push_back(drive("d", {{1000, 200 + i}, {1000, 50}, {1000, 300 + i}}));
    other.drives.push_back(drive("d", {{1000, 240 + i}, {1000, 50}, {1000, 900 + i}}));
  }
  other.drives[4].random.rows.pop_back();
  compare_side a, b;
  comparison c;
  ASSERT_NO_FATAL_FAILURE(compare_runs(&base, &other, &a, &b, &c));
  EXPECT_EQ(1, c.random.geomean_rows);
  EXPECT_TRUE(c.random.overall.exact);
  EXPECT_EQ(252, c.random.overall.splits);
  EXPECT_NEAR(std::log(242.0 / 202), c.random.overall.statistic, 1e-12);
  EXPECT_NEAR(12.0 / 252, c.random.overall.p, 1e-12);
  EXPECT_EQ(verdict_slower, c.random.overall_verdict);

  // Runs that interleave: ~.
  for (int i = 0; i < 5; ++i) other.drives[i].random.rows[0].ms = 200 + i + (i % 2 == 0 ? 1 : -1);
  ASSERT_NO_FATAL_FAILURE(compare_runs(&base, &other, &a, &b, &c));
  EXPECT_EQ(verdict_same, c.random.overall_verdict) << "p " << c.random.overall.p;
}

// Every row of d with read times: a median of 40 us and a p99 of p99 us.
report_drive timed(report_drive d, double p99) {
  for (report_table *table : {&d.sequential, &d.random})
    for (report_row &row : table->rows) {
      row.timed = true;
      row.read_us = {50, 20, 30, 35, 40, 45, 50, p99, p99 + 10, p99 + 20};
    }
  return d;
}

// Five runs a side, every row 1000 reads in 200 ms: the means are the same
// on both sides, and so are the medians of the reads, 40 us. The p99s are
// 1000 to 1004 us against 2000 to 2004: by p99 new is slower on every row,
// as far apart as 5 and 5 runs can be (p = 2 / 252), and by the other two
// on none.
TEST(compare, the_verdict_follows_the_metric_compared) {
  std::string why;
  report_input base = input("base", {}), other = input("new", {});
  for (int i = 0; i < 5; ++i) {
    base.drives.push_back(timed(drive("d", {{1000, 200}, {1000, 200}}), 1000 + i));
    other.drives.push_back(timed(drive("d", {{1000, 200}, {1000, 200}}), 2000 + i));
  }
  const struct {
    row_metric metric;
    compare_verdict verdict;
  } cases[] = {{metric_mean, verdict_same}, {metric_p50, verdict_same}, {metric_p99, verdict_slower}};
  for (const auto &m : cases) {
    compare_side a, b;
    comparison c;
    ASSERT_NO_FATAL_FAILURE(compare_runs(&base, &other, &a, &b, &c, m.metric));
    for (const compared_table *table : {&c.sequential, &c.random})
      for (const compared_row &row : table->rows) {
        EXPECT_EQ(m.verdict, row.verdict)
            << metric_name(m.metric) << ", " << row.bytes << " bytes: p " << row.p;
      }
    EXPECT_EQ(m.verdict, c.random.overall_verdict) << metric_name(m.metric);
    EXPECT_EQ("", metric_note(&c)) << "every run has every row's times";
  }

  // One base run without times on a row: that row is compared over the
  // other four (4 against 5 can still reach 0.05: p = 2 / 126), and a note
  // says so.
  base.drives[2].random.rows[0].timed = false;
  compare_side a, b;
  comparison c;
  ASSERT_NO_FATAL_FAILURE(compare_runs(&base, &other, &a, &b, &c, metric_p99));
  const compared_row &left_out = c.random.rows[0];
  EXPECT_EQ(4u, left_out.base->us.size());
  EXPECT_EQ(verdict_slower, left_out.verdict);
  EXPECT_NEAR(2.0 / 126, left_out.p, 1e-12);
  EXPECT_EQ(
      "compared by p99, but blockmeter printed no read times for 1 row of base's runs and 0 rows of new's: "
      "each such row is compared over the runs that have them",
      metric_note(&c));
  // The text, the CSV and the JSON say what was compared.
  std::vector<comparison> one = {c};
  report_sink text, csv, json;
  ASSERT_EQ(0, write_compare_text(&one, default_alpha, &text, &why));
  ASSERT_EQ(0, write_compare_csv(&one, default_alpha, &csv, &why));
  ASSERT_EQ(0, write_compare_json(&one, default_alpha, &json, &why));
  EXPECT_EQ(2u, count_in(text.text, "  base p99 us  ")) << text.text;
  EXPECT_EQ(2u, count_in(text.text, "  new p99 us  "));
  EXPECT_NE(std::string::npos,
            text.text.find("\np99 us: the median over the runs of each run's 99th percentile"));
  EXPECT_NE(std::string::npos, text.text.find("\nnote: " + metric_note(&c) + "\n"));
  EXPECT_EQ(4u, count_in(csv.text, ",p99\r\n")) << csv.text;
  EXPECT_NE(std::string::npos, json.text.find("\"metric\": \"p99\",")) << json.text.substr(0, 300);

  // A side without times cannot be compared by them.
  report_input old = input("old", {drive("d", {{1000, 200}}), drive("d", {{1000, 200}})});
  std::string problem;
  EXPECT_EQ(-1, make_compare_side(&old, &a, &problem, metric_p50));
  EXPECT_EQ("holds no read times to compare by p50 (blockmeter printed none: compare by the mean)", problem);
}

}  // namespace
