// What one row of one run says by itself, against hand-worked values.
#include <gtest/gtest.h>

#include "row_figures.h"

namespace {

report_row row(int64_t first, int64_t reads, int64_t ms, bool failed = false) {
  return {first, reads, ms, 0, "", failed};
}

report_drive drive_of(int64_t block_size) {
  report_drive drive = {};
  drive.root = std::string("d");
  drive.block_size = block_size;
  drive.n_blocks = 1 << 20;
  return drive;
}

TEST(row_figures, per_row_time_rate_and_flags) {
  report_drive drive = drive_of(4096);
  row_figures f;
  report_row measured = row(11, 186, 47);
  derive_row(&drive, &measured, false, &f);
  EXPECT_EQ(45056, f.bytes_per_read);
  EXPECT_NEAR(252.688, f.us_per_read, 0.001);  // 47 ms / 186 reads
  EXPECT_NEAR(3957.447, f.iops, 0.001);
  EXPECT_EQ("coarse", flag_text(f.flags));

  // A random read is one block whatever its range; 100 ms is not coarse.
  report_row slow = row(1 << 20, 1000, 100, true);
  derive_row(&drive, &slow, true, &f);
  EXPECT_EQ(4096, f.bytes_per_read);
  EXPECT_EQ("failed-reads", flag_text(f.flags));
  report_row quick_failed = row(1 << 20, 1000, 99, true);
  derive_row(&drive, &quick_failed, true, &f);
  EXPECT_EQ("coarse failed-reads", flag_text(f.flags));

  // No reads: nothing measured, nothing flagged.
  report_row none = row(200, 0, 1);
  derive_row(&drive, &none, false, &f);
  EXPECT_FALSE(f.measured);
  EXPECT_EQ(0u, f.flags);
}

// What runs are told by: 1000 reads in 100 ms are 100 us each on average,
// while their median and p99 are as blockmeter printed them; a row without
// printed times has no median or p99, and one without reads no mean.
TEST(row_figures, each_metric_takes_its_own_value_of_a_row) {
  report_drive drive = drive_of(512);
  report_row timed = row(1, 1000, 100);
  timed.timed = true;
  timed.read_us = {900, 20, 30, 35, 40, 45, 50, 900, 950, 990};
  const struct {
    const char *name;
    double value;
  } metrics[] = {{"mean", 100}, {"p50", 40}, {"p99", 900}};
  for (const auto &m : metrics) {
    row_metric metric = metric_mean;
    ASSERT_EQ(0, find_metric(m.name, &metric)) << m.name;
    EXPECT_STREQ(m.name, metric_name(metric));
    double value = -1;
    EXPECT_TRUE(row_value(&drive, &timed, true, metric, &value)) << m.name;
    EXPECT_EQ(m.value, value) << m.name;
    report_row untimed = row(1, 1000, 100), no_reads = row(1, 0, 1);
    EXPECT_EQ(metric == metric_mean, row_value(&drive, &untimed, true, metric, &value)) << m.name;
    EXPECT_FALSE(row_value(&drive, &no_reads, true, metric, &value)) << m.name;
  }
  row_metric metric = metric_p99;
  EXPECT_EQ(-1, find_metric("p95", &metric));
  EXPECT_EQ(-1, find_metric("", &metric));
  EXPECT_EQ(metric_p99, metric) << "left as it was";
}

}  // namespace
