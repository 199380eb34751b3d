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

}  // namespace
