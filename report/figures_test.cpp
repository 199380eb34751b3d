// The figures derived from rows, against hand-worked values and against rows
// made from a known per-read overhead and transfer rate.
#include <gtest/gtest.h>

#include <cmath>

#include "figures.h"
#include "test_data.h"

namespace {

report_row row(int64_t first, int64_t reads, int64_t ms, bool failed = false) {
  return {first, reads, ms, 0, "", failed};
}

report_drive drive_of(int64_t block_size, std::vector<report_row> sequential,
                      std::vector<report_row> random) {
  report_drive drive = {};
  drive.root = std::string("d");  // not the literal itself: g++ 12 at -O3 warns falsely there (-Wrestrict)
  drive.block_size = block_size;
  drive.n_blocks = 1 << 20;
  drive.sequential.rows = std::move(sequential);
  drive.random.rows = std::move(random);
  return drive;
}

// derive_group over drives as the runs of one drive.
int derive_runs(const std::vector<report_drive> &drives, drive_figures *f, std::string *problem) {
  drive_group group;
  for (const report_drive &drive : drives) group.runs.push_back({nullptr, &drive});
  return derive_group(&group, f, problem);
}

// The device model of input's one drive.
device_model model_of(const report_input &input) {
  device_model model = {};
  EXPECT_EQ(1u, input.drives.size()) << input.name;
  if (input.drives.empty()) return model;
  drive_group group = {{{&input, &input.drives[0]}}};
  derive_device_model(&group, &model);
  return model;
}

// Rows read with a 80 us overhead per read and 250 MiB/s after it, their
// times rounded to the millisecond as blockmeter's tick does.
TEST(figures, fit_recovers_a_known_overhead_and_rate) {
  const double overhead_us = 80, bytes_per_us = 250 * 1048576 / 1e6;
  std::vector<report_row> rows;
  for (int64_t blocks :
       {1, 11, 21, 32, 42, 53, 63, 74, 84, 95, 105, 116, 126, 137, 147, 158, 168, 179, 189, 200}) {
    int64_t reads = 2000;
    double us = overhead_us + (double)(blocks * 512) / bytes_per_us;
    rows.push_back(row(blocks, reads, std::llround(us * reads / 1000)));
    rows.back().mib_per_s = (double)(blocks * 512 * reads) / (rows.back().ms / 1000.0) / 1048576;
  }
  // Rows the figures must pass over: coarse, failed, and without reads.
  rows.push_back(row(300, 10, 99));
  rows.back().mib_per_s = 1e6;
  rows.push_back(row(400, 2000, 5000, true));
  rows.back().mib_per_s = 2e6;
  rows.push_back(row(500, 0, 200));

  report_drive drive = drive_of(512, rows, {});
  drive_figures f;
  derive_drive(&drive, &f);
  EXPECT_EQ(20, f.sequential_rows);
  ASSERT_EQ("", f.fit_note);
  EXPECT_NEAR(overhead_us, f.overhead_us, 1.0);
  EXPECT_NEAR(250, f.transfer_mib_per_s, 2.5);
  ASSERT_EQ("", f.peak_note);
  EXPECT_EQ(200, f.peak_blocks_per_read);
  EXPECT_DOUBLE_EQ(drive.sequential.rows[19].mib_per_s, f.peak_mib_per_s);
}

TEST(figures, random_ends_and_the_cost_of_moving_across) {
  report_drive drive = drive_of(512, {},
                                {row(4096, 100, 9), row(2048, 1000, 200), row(1024, 1000, 180, true),
                                 row(4, 1000, 160), row(2, 2000, 300)});
  drive_figures f;
  derive_drive(&drive, &f);
  EXPECT_EQ(3, f.random_rows);
  ASSERT_EQ("", f.ends_note);
  EXPECT_EQ(2048, f.widest_range);  // 4096 is coarse
  EXPECT_EQ(200, f.widest_us);
  EXPECT_EQ(2, f.narrowest_range);
  EXPECT_EQ(150, f.narrowest_us);
  ASSERT_EQ("", f.seek_note);
  EXPECT_EQ(50, f.seek_cost_us);
}

TEST(figures, says_so_when_too_few_rows_qualify) {
  // One sequential row of 100 ms or more: a peak, no fit. One random row:
  // both ends are it, and there is no difference to take.
  report_drive drive = drive_of(512, {row(1, 1000, 120), row(11, 1000, 99), row(21, 1000, 500, true)},
                                {row(64, 1000, 100), row(2, 100, 10)});
  drive_figures f;
  derive_drive(&drive, &f);
  EXPECT_EQ("", f.peak_note);
  EXPECT_EQ(1, f.peak_blocks_per_read);
  EXPECT_EQ("too few rows: 1 of 100 ms or more, 2 read sizes needed", f.fit_note);
  EXPECT_EQ("", f.ends_note);
  EXPECT_EQ(64, f.narrowest_range);
  EXPECT_EQ("too few rows: 1 of 100 ms or more, 2 ranges needed", f.seek_note);

  drive = drive_of(512, {row(1, 1000, 99)}, {});
  derive_drive(&drive, &f);
  EXPECT_NE("", f.peak_note);
  EXPECT_NE("", f.fit_note);
  EXPECT_NE("", f.ends_note);
  EXPECT_NE("", f.seek_note);

  // Times that fall as reads grow give no transfer rate.
  drive = drive_of(512, {row(1, 1000, 300), row(200, 1000, 200)}, {});
  derive_drive(&drive, &f);
  EXPECT_EQ("no transfer rate: the time per read does not grow with the read size", f.fit_note);
}

}  // namespace

namespace {

struct seek_case {
  std::vector<int64_t> widest_ms, narrowest_ms;  // per run, over 1000 reads each
  const char *note;                              // the start of the seek note; "" for a cost
};

// Two random rows per run: the widest range and the narrowest.
TEST(figures, a_seek_cost_within_the_noise_is_no_cost) {
  const seek_case cases[] = {
      {{200}, {150}, ""},
      {{160}, {150}, "no cost measured: the ends differ by 10 % or less"},
      {{140}, {150}, "no cost measured: the widest range reads no slower"},
      {{200, 210}, {150, 160}, ""},
      {{200, 210}, {150, 205}, "no cost measured: the two ends' runs overlap"},
  };
  for (const seek_case &c : cases) {
    std::vector<report_drive> runs;
    for (size_t i = 0; i < c.widest_ms.size(); ++i)
      runs.push_back(drive_of(512, {}, {row(4096, 1000, c.widest_ms[i]), row(2, 1000, c.narrowest_ms[i])}));
    drive_figures f;
    std::string problem;
    ASSERT_EQ(0, derive_runs(runs, &f, &problem)) << problem;
    EXPECT_EQ(0u, f.seek_note.find(c.note))
        << c.widest_ms[0] << " against " << c.narrowest_ms[0] << ": " << f.seek_note;
    EXPECT_EQ(*c.note == '\0', f.seek_note.empty());
  }
}

// Times that hardly grow with the read size fit a rate far above any row's;
// speeds that rise to the last row put the peak at the largest read tried.
TEST(figures, a_fitted_rate_beyond_the_rows_is_an_extrapolation) {
  std::vector<report_row> rows;
  for (int64_t blocks : {1, 50, 100, 200}) {
    rows.push_back(row(blocks, 1000, 1000 + blocks / 10));  // 1 ms a read, plus a little
    rows.back().mib_per_s = (double)blocks * 512 / 1000 / 1.048576;
  }
  report_drive drive = drive_of(512, rows, {});
  drive_figures f;
  derive_drive(&drive, &f);
  ASSERT_EQ("", f.fit_note);
  EXPECT_TRUE(f.fit_extrapolated);
  EXPECT_GT(f.transfer_mib_per_s, 2 * f.peak_mib_per_s);
  EXPECT_TRUE(f.peak_is_largest_read);
  EXPECT_EQ(200, f.peak_blocks_per_read);
}

// Two runs whose sequential rows do not pair (the second's second row reads
// 12 blocks, not 11): the sequential figures say so, and the random ones are
// the runs' as if nothing were wrong.
TEST(figures, a_table_whose_runs_do_not_pair_blanks_only_its_own_figures) {
  std::vector<report_row> random = {row(4096, 1000, 200), row(2, 1000, 150)};
  drive_figures f;
  std::string problem;
  EXPECT_EQ(-1, derive_runs({drive_of(512, {row(1, 1000, 200), row(11, 1000, 300)}, random),
                             drive_of(512, {row(1, 1000, 200), row(12, 1000, 300)}, random)},
                            &f, &problem));
  EXPECT_EQ("sequential row 2 does not pair: run 1 has 11 blocks per read, run 2 has 12", problem);
  EXPECT_EQ("the runs' sequential rows do not pair", f.peak_note);
  EXPECT_EQ("the runs' sequential rows do not pair", f.fit_note);
  EXPECT_EQ("", f.ends_note);
  EXPECT_EQ(4096, f.widest_range);
  EXPECT_EQ(2, f.narrowest_range);
  EXPECT_EQ("", f.seek_note);
  EXPECT_EQ(50, f.seek_cost_us);
}

struct captured_device {
  const char *file;
  device_kind kind;
  int rpm;           // rotating: the speed shown
  double access_ms;  // rotating: the emulator's own average access
  buffer_verdict buffer;
};

class captured : public testing::TestWithParam<captured_device> {};

// Real runs of blockmeter: emulated disks of 7,200 rpm (64 MiB, tracks of
// 512 KiB, a track buffer) and 10,000 rpm (tracks of 256 KiB, no buffer: the
// spread of its waits alone reads 6.6 % slow), a loop device over a file on
// this machine's virtual disk, and the same device limited to 2,000 reads a
// second.
TEST_P(captured, is_told_for_what_it_is) {
  const captured_device &c = GetParam();
  device_model model = model_of(parse_named("c", read_test_data(c.file)));
  EXPECT_EQ(c.kind, model.kind) << kind_name(model.kind) << ": " << model.basis;
  if (model.kind == kind_rotating) {
    EXPECT_NEAR(c.rpm, model.measured_rpm, 0.03 * c.rpm);
    EXPECT_EQ(c.rpm, model.shown_rpm);
    EXPECT_NEAR(c.access_ms, model.access_ms, 0.1 * c.access_ms);
    EXPECT_EQ(c.buffer, model.buffer) << model.buffer_text;
  }
  if (model.kind == kind_rate_limited) {
    EXPECT_NEAR(2000, model.limit_reads_per_s, 200);
  }
}

INSTANTIATE_TEST_SUITE_P(
    , captured,
    testing::Values(
        captured_device{"linux_emulated_7200.txt", kind_rotating, 7200, 12.33, buffer_serves},
        captured_device{"linux_emulated_10000_no_buffer.txt", kind_rotating, 10000, 7.67, buffer_none},
        captured_device{"linux_loop_timed.txt", kind_flash_like, 0, 0, buffer_not_told},
        captured_device{"linux_loop_throttled_timed.txt", kind_rate_limited, 0, 0, buffer_not_told}),
    [](const testing::TestParamInfo<captured_device> &info) {
      std::string name = info.param.file;
      return name.substr(6, name.find('.') - 6);
    });

// The device line's link bounds the sequential peak: faster is a cache's
// figure. A line that names two devices bounds nothing.
TEST(figures, a_peak_faster_than_the_link_is_a_cache) {
  const std::string text = read_test_data("linux_loop_timed.txt"), direct = "direct I/O on";
  const size_t at = text.find(direct);
  ASSERT_NE(std::string::npos, at);
  auto with_link = [&](const char *link) {
    return model_of(parse_named(link, std::string(text).insert(at + direct.size(), link)));
  };
  device_model slow = with_link(", link USB 12 Mb/s"), fast = with_link(", link SATA 6.0 Gb/s");
  EXPECT_EQ(kind_cache, slow.kind) << slow.basis;
  EXPECT_TRUE(slow.peak_over_link);
  EXPECT_EQ("USB 12 Mb/s", slow.link);
  EXPECT_EQ(kind_flash_like, fast.kind) << fast.basis;
  EXPECT_FALSE(fast.peak_over_link);
  EXPECT_EQ("", with_link(", link USB 12 Mb/s; /dev/sdb").link);
}

}  // namespace
