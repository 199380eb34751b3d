// The read tests against the fake drive and clock.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "fakes.h"
#include "progress.h"
#include "random_block.h"
#include "read_tests.h"

namespace {

struct row {
  long long first;  // read size, or random range
  int reads;
  int ms;
  double speed;
};

struct table {
  std::string header;
  std::vector<row> rows;
};

table parse_table(const std::string &out) {
  table parsed;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("Time,ms") != std::string::npos && parsed.rows.empty()) {
      parsed.header = line;
      continue;
    }
    row r{};
    EXPECT_EQ(4, sscanf(line.c_str(), "%lld %d %d %lf", &r.first, &r.reads, &r.ms, &r.speed))
        << "not a table row: " << line;
    EXPECT_EQ(60u, line.size()) << "row not four columns of 15: " << line;
    parsed.rows.push_back(r);
  }
  return parsed;
}

class read_tests : public testing::Test {
 protected:
  void SetUp() override {
    reset_fakes();
    name_read_reports("D");
  }
  void TearDown() override { EXPECT_TRUE(fake_hdd.misuse.empty()) << fake_hdd.misuse.front(); }

  hdd_info add_drive(int64_t n_blocks, uint32_t block_size = 512) {
    fake_hdd.drives.push_back({"D", block_size, n_blocks, -1, false, false});
    return {block_size, n_blocks};
  }

  // Runs one test with its standard output and error captured.
  template <typename F>
  table run(F test, int expected_result = 0) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    intptr_t handle = open_hdd("D");
    EXPECT_EQ(expected_result, test(handle));
    close_hdd(handle);
    err = testing::internal::GetCapturedStderr();
    out = testing::internal::GetCapturedStdout();
    return parse_table(out);
  }

  std::string out, err;
};

// The read-time line of a row of D whose reads all took us microseconds.
std::string steady_times(const std::string &row, const std::string &us) {
  std::string line = "blockmeter: D: " + row + ": read time us: first " + us + ", min " + us;
  for (const char *p : {"p10", "p25", "p50", "p75", "p90", "p99", "p99.9"})
    line += std::string(", ") + p + " " + us;
  return line + ", max " + us + "\n";
}

const char multisect_header[] = "       N Blocks         N Reps        Time,ms     Speed,MB/s";
const char random_header[] = "   Random range         N reps        Time,ms     Speed,MB/s";

TEST_F(read_tests, multisect_sweeps_sizes_from_block_0_in_order) {
  hdd_info info = add_drive(1 << 30);
  fake_hdd.ms_per_read = 1;  // 600 reads take 600 ms: reps stays
  table t = run([&](intptr_t h) { return test_multisect(h, &info, 600, 200, 20); });
  EXPECT_EQ(multisect_header, t.header);
  const int sizes[] = {1,   11,  21,  32,  42,  53,  63,  74,  84,  95,
                       105, 116, 126, 137, 147, 158, 168, 179, 189, 200};
  ASSERT_EQ(20u, t.rows.size());
  size_t next = 0;
  std::string times;
  for (int step = 0; step < 20; ++step) {
    times += steady_times("sequential " + std::to_string(sizes[step]) + " blocks", "1000.0");
    EXPECT_EQ(sizes[step], t.rows[step].first);
    ASSERT_EQ(600, t.rows[step].reads);
    ASSERT_EQ(600, t.rows[step].ms);
    for (int i = 0; i < t.rows[step].reads; ++i, ++next) {
      ASSERT_EQ((int64_t)sizes[step] * i, fake_hdd.reads[next].block) << "step " << step;
      ASSERT_EQ(sizes[step], fake_hdd.reads[next].nblocks);
    }
  }
  EXPECT_EQ(next, fake_hdd.reads.size());
  EXPECT_EQ(0, fake_hdd.live_bytes) << "buffer not freed";
  EXPECT_EQ(1, fake_hdd.allocs);
  EXPECT_EQ(times, err) << "a line of read times after each row";
}

TEST_F(read_tests, multisect_never_reads_past_n_blocks) {
  hdd_info info = add_drive(150);
  fake_hdd.drives[0].device_blocks = 1000;  // the medium goes on: only n_blocks limits
  table t = run([&](intptr_t h) { return test_multisect(h, &info, 1000, 200, 20); });
  EXPECT_EQ(150, t.rows[0].reads) << "1000 reads of 1 block capped at n_blocks";
  EXPECT_EQ(13, t.rows[1].reads) << "150 / 11";
  EXPECT_EQ(1, t.rows[14].reads) << "one read of 147";
  for (size_t i = 15; i < 20; ++i) {
    EXPECT_EQ(0, t.rows[i].reads) << "a read size above n_blocks makes no reads";
    EXPECT_EQ(0.0, t.rows[i].speed);
  }
  EXPECT_TRUE(err.ends_with(steady_times("sequential 147 blocks", "0.0")))
      << "no times of rows without reads:\n"
      << err;
  for (const fake_read &r : fake_hdd.reads) ASSERT_LE(r.block + r.nblocks, 150);
}

TEST_F(read_tests, multisect_adapts_reps_at_the_thresholds) {
  hdd_info info = add_drive(1 << 30);
  tick_script = {0, 499, 0, 500, 0, 10000, 0, 10001, 0, 20000, 0, 0};
  table t = run([&](intptr_t h) { return test_multisect(h, &info, 1000, 6, 6); });
  ASSERT_EQ(6u, t.rows.size());
  const int reps[] = {1000, 2000, 2000, 2000, 1000, 500};
  const int ms[] = {499, 500, 10000, 10001, 20000, 1};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(reps[i], t.rows[i].reads) << "row " << i;
    EXPECT_EQ(ms[i], t.rows[i].ms) << "row " << i;
  }
}

TEST_F(read_tests, multisect_reps_reaching_zero_stays_zero) {
  hdd_info info = add_drive(1 << 20);
  tick_script = {0, 10001, 0, 1, 0, 1};
  table t = run([&](intptr_t h) { return test_multisect(h, &info, 1, 3, 3); });
  ASSERT_EQ(3u, t.rows.size());
  EXPECT_EQ(1, t.rows[0].reads);
  for (int i = 1; i < 3; ++i) {
    EXPECT_EQ(0, t.rows[i].reads);
    EXPECT_EQ(0.0, t.rows[i].speed);
  }
}

TEST_F(read_tests, elapsed_time_counts_zero_as_one_and_wraps) {
  hdd_info info = add_drive(1 << 20);
  tick_script = {7, 7, 0xFFFFFF00u, 0x100u};
  table t = run([&](intptr_t h) { return test_multisect(h, &info, 1024, 2, 2); });
  ASSERT_EQ(2u, t.rows.size());
  EXPECT_EQ(1, t.rows[0].ms);
  EXPECT_NEAR(1024 * 512 / 0.001 / 1048576, t.rows[0].speed, 1e-6);  // 500 MiB/s
  EXPECT_EQ(0x200, t.rows[1].ms) << "the tick wrapped between the readings";
  EXPECT_NEAR(2048 * 2 * 512 / 0.512 / 1048576, t.rows[1].speed, 1e-6);
}

TEST_F(read_tests, speed_counts_only_the_blocks_really_read) {
  hdd_info info = add_drive(1 << 20);
  fake_hdd.ms_per_read = 1;
  fake_hdd.fail_read_at = 3;
  fake_hdd.short_read_at = 5;
  fake_hdd.error_code = 77;
  table t = run([&](intptr_t h) { return test_multisect(h, &info, 10, 4, 2); }, -1);
  ASSERT_EQ(2u, t.rows.size());
  EXPECT_EQ(10, t.rows[0].reads) << "failed reads are still reads made";
  EXPECT_EQ(9, t.rows[0].ms) << "a failed read costs the fake no time";
  EXPECT_NEAR(8 * 512 / 0.009 / 1048576, t.rows[0].speed, 1e-6) << "8 of 10 reads delivered";
  // The failed read took no time, and counts as 100 ns: the percentile
  // shows its bucket's midpoint, kept within the smallest and largest times.
  EXPECT_EQ(
      "blockmeter: D: sequential 1 blocks: read time us: first 1000.0, min 0.0, p10 0.1, p25 1000.0, "
      "p50 1000.0, p75 1000.0, p90 1000.0, p99 1000.0, p99.9 1000.0, max 1000.0\n"
      "blockmeter: D: sequential 1 blocks: 2 of 10 reads failed or came back short; first: fake error 77\n" +
          steady_times("sequential 4 blocks", "1000.0"),
      err);
  // The short read left the position one block early: the next read starts there.
  EXPECT_EQ(3, fake_hdd.reads[5].block);
  EXPECT_NE(std::string::npos, out.find(t.header + "\n" + std::string(14, ' ') + "1"))
      << "the error line goes to standard error, not into the table";
}

TEST_F(read_tests, short_read_is_reported_with_its_blocks) {
  hdd_info info = add_drive(1 << 20);
  fake_hdd.short_read_at = 2;  // the first read of the second row
  table t = run([&](intptr_t h) { return test_multisect(h, &info, 1, 5, 2); });
  EXPECT_EQ(steady_times("sequential 1 blocks", "0.0") + steady_times("sequential 5 blocks", "0.0") +
                "blockmeter: D: sequential 5 blocks: 1 of 2 reads failed or came back short; first: 4 of 5 "
                "blocks read\n",
            err);
  EXPECT_NEAR((5 + 4) * 512 / 0.001 / 1048576, t.rows[1].speed, 1e-6);
}

TEST_F(read_tests, byte_counts_are_64_bit) {
  hdd_info info = add_drive(1 << 20, 1 << 20);  // 1 MiB blocks
  tick_script = {0, 1000};
  table t = run([&](intptr_t h) { return test_randomread_range(h, &info, 8192, 1 << 20) == 1000 ? 0 : -1; });
  ASSERT_EQ(1u, t.rows.size());
  EXPECT_NEAR(8192.0, t.rows[0].speed, 1e-6) << "8 GiB in one second";
}

TEST_F(read_tests, multisect_allocation_failure_prints_no_table_and_says_why) {
  hdd_info info = add_drive(1000);
  fake_hdd.fail_alloc_at = 1;
  run([&](intptr_t h) { return test_multisect(h, &info, 1000, 200, 20); }, -1);
  EXPECT_EQ("", out);
  EXPECT_EQ("blockmeter: D: sequential test: cannot allocate 102400 bytes: fake error 5\n", err);
  EXPECT_TRUE(fake_hdd.reads.empty());
}

TEST_F(read_tests, random_halves_range_and_doubles_reads_below_4000_ms) {
  hdd_info info = add_drive(1000);
  tick_script = {0, 3999, 0, 4000, 0, 4001, 0, 0, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1};
  table t = run([&](intptr_t h) { return test_randomread(h, &info, 100); });
  EXPECT_EQ(random_header, t.header);
  const long long ranges[] = {1000, 500, 250, 125, 62, 31, 15, 7, 3};
  const int reads[] = {100, 200, 200, 200, 400, 800, 1600, 3200, 6400};
  ASSERT_EQ(9u, t.rows.size());
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(ranges[i], t.rows[i].first);
    EXPECT_EQ(reads[i], t.rows[i].reads);
  }
  EXPECT_EQ(1, t.rows[3].ms);
  EXPECT_EQ(9, fake_hdd.allocs) << "one buffer per pass";
  EXPECT_EQ(0, fake_hdd.live_bytes);
}

TEST_F(read_tests, random_blocks_stay_in_range_and_never_repeat_in_a_row) {
  hdd_info info = add_drive(1 << 20);
  const int64_t ranges[] = {2, 3, 1000, 1 << 20};
  for (int64_t range : ranges) {
    fake_hdd.reads.clear();
    int reads = range == 2 ? 200000 : 20000;
    run([&](intptr_t h) { return test_randomread_range(h, &info, reads, range) > 0 ? 0 : -1; });
    ASSERT_EQ((size_t)reads, fake_hdd.reads.size());
    std::vector<int> hits(range < 3 ? range + 1 : 3);
    for (size_t i = 0; i < fake_hdd.reads.size(); ++i) {
      int64_t block = fake_hdd.reads[i].block;
      ASSERT_TRUE(block >= 0 && block <= range) << "block " << block << " of range " << range;
      if (i > 0) {
        ASSERT_NE(fake_hdd.reads[i - 1].block, block) << "read " << i;
      }
      if (range < 3) ++hits[(size_t)block];
    }
    if (range == 2) {
      EXPECT_GT(hits[2], 0) << "block range itself is reachable";
    }
  }
}

TEST_F(read_tests, random_range_column_is_64_bit) {
  hdd_info info = add_drive(1LL << 33);
  fake_hdd.fail_alloc_at = 2;  // the second pass prints no row and is skipped
  tick_script = {0, 5000};
  table t = run([&](intptr_t h) {
    int first = test_randomread_range(h, &info, 10, 1LL << 33);
    int second = test_randomread_range(h, &info, 10, 1LL << 32);
    return first == 5000 && second == -1 ? 0 : 1;
  });
  ASSERT_EQ(1u, t.rows.size());
  EXPECT_EQ(1LL << 33, t.rows[0].first);
  for (const fake_read &r : fake_hdd.reads) EXPECT_LE(r.block, 1LL << 33);
}

TEST_F(read_tests, random_pass_without_buffer_skips_to_the_next_range) {
  hdd_info info = add_drive(16);
  fake_hdd.fail_alloc_at = 2;
  table t = run([&](intptr_t h) { return test_randomread(h, &info, 100); }, -1);
  EXPECT_EQ(steady_times("random range 16", "0.0") +
                "blockmeter: D: random range 8: cannot allocate 512 bytes: fake error 5\n" +
                steady_times("random range 4", "0.0") + steady_times("random range 2", "0.0"),
            err);
  ASSERT_EQ(3u, t.rows.size()) << out;
  EXPECT_EQ(16, t.rows[0].first);
  EXPECT_EQ(4, t.rows[1].first);
  EXPECT_EQ(400, t.rows[1].reads) << "the failed pass still doubled reads";
  EXPECT_EQ(2, t.rows[2].first);
}

// A failed positioning is a failed read, with the system's reason; a read that
// only comes back short (past the volume's end) is no failure.
TEST_F(read_tests, random_failed_positioning_fails_the_test_and_short_reads_do_not) {
  hdd_info info = add_drive(8);
  fake_hdd.fail_position_at = 150;  // in the second pass, range 4
  fake_hdd.error_code = 22;
  table t = run([&](intptr_t h) { return test_randomread(h, &info, 100); }, -1);
  ASSERT_EQ(3u, t.rows.size());
  EXPECT_EQ(steady_times("random range 8", "0.0") + steady_times("random range 4", "0.0") +
                "blockmeter: D: random range 4: 1 of 200 reads failed or came back short; first: fake error "
                "22\n" +
                steady_times("random range 2", "0.0"),
            err);
  EXPECT_EQ(100u + 200 + 400 - 1, fake_hdd.reads.size()) << "the failed positioning made no read";

  reset_fakes();
  name_read_reports("D");
  info = add_drive(8);
  fake_hdd.drives[0].device_blocks = 0;  // every read comes back empty, without an error
  t = run([&](intptr_t h) { return test_randomread(h, &info, 100); });
  EXPECT_EQ(3u, t.rows.size());
  EXPECT_EQ(0u,
            err.find(steady_times("random range 8", "0.0") +
                     "blockmeter: D: random range 8: 100 of 100 reads failed or came back short; first: 0 "
                     "of 1 blocks read\n"))
      << err;
}

TEST_F(read_tests, random_test_on_one_block_prints_only_its_header) {
  hdd_info info = add_drive(1);
  table t = run([&](intptr_t h) { return test_randomread(h, &info, 100); });
  EXPECT_EQ(random_header, t.header);
  EXPECT_TRUE(t.rows.empty());
}

// Every read call is timed on the nanosecond clock, which moves only inside
// reads; worked out by hand: 100000 ns lies in [99840, 100095] (midpoint
// 99967.5, kept up to the smallest time), 250000 in [249856, 250367]
// (250111.5), 2000000 in [1998848, 2002943] (2000895.5), 30000000 in
// [29949952, 30015487] (29982719.5).
TEST_F(read_tests, a_row_prints_the_times_of_its_reads) {
  hdd_info info = add_drive(4096);
  fake_hdd.read_ns_script = {250000, 100000, 100000, 100000,  100000,
                             100000, 100000, 100000, 2000000, 30000000};
  table t = run([&](intptr_t h) { return test_randomread_range(h, &info, 10, 4096) == 1 ? 0 : -1; });
  ASSERT_EQ(1u, t.rows.size());
  EXPECT_EQ(
      "blockmeter: D: random range 4096: read time us: first 250.0, min 100.0, p10 100.0, p25 100.0, "
      "p50 100.0, p75 250.1, p90 2000.9, p99 29982.7, p99.9 29982.7, max 30000.0\n",
      err);
}

// On a terminal, each row is named in a line drawn before its first tick
// reading and erased after its second: nothing of it lies among the reads,
// and it is gone before the row's own lines.
TEST_F(read_tests, a_terminal_shows_the_row_being_measured) {
  hdd_info info = add_drive(1 << 20);
  fake_terminal_columns = 100;
  // The start, then per row: the progress line, the row's two readings.
  tick_script = {1000, 1000, 1000, 1500, 73999, 74000, 74100, 3702000, 3702000, 3702001};
  start_progress("D");
  run([&](intptr_t h) { return test_multisect(h, &info, 1, 5, 3); });
  auto erased = [](const std::string &line) { return line + "\r" + std::string(line.size(), ' ') + "\r"; };
  EXPECT_EQ(
      "blockmeter: D: sequential 1 blocks (row 1 of 3; 2 rows left), 0 s so far\r" + std::string(72, ' ') +
          "\r" + steady_times("sequential 1 blocks", "0.0") +
          erased("blockmeter: D: sequential 3 blocks (row 2 of 3; 1 row left), 1 min 12 s so far") +
          steady_times("sequential 3 blocks", "0.0") +
          erased("blockmeter: D: sequential 5 blocks (row 3 of 3; 0 rows left), 1 h 1 min 41 s so far") +
          steady_times("sequential 5 blocks", "0.0"),
      err);
  EXPECT_EQ(std::string::npos, out.find('\r')) << "nothing of it on standard output";
  EXPECT_TRUE(tick_script.empty()) << "the tick read more or less often than expected";
}

TEST_F(read_tests, the_random_rows_are_counted_from_the_whole_volume) {
  hdd_info info = add_drive(1000);  // ranges 1000, 500, ... 7, 3: 9 rows
  fake_terminal_columns = 200;
  start_progress("D");
  run([&](intptr_t h) { return test_randomread(h, &info, 1); });
  for (const char *row : {"random range 1000 (row 1 of 9; 8 rows left), 0 s so far\r",
                          "random range 7 (row 8 of 9; 1 row left), 0 s so far\r",
                          "random range 3 (row 9 of 9; 0 rows left), 0 s so far\r"})
    EXPECT_NE(std::string::npos, err.find(std::string("blockmeter: D: ") + row)) << row << " in:\n" << err;
}

// A line wider than the terminal would wrap, and a carriage return would
// take back only its last part: it is cut short of the last column, on the
// first byte of a character.
TEST_F(read_tests, the_progress_line_never_wraps) {
  hdd_info info = add_drive(1 << 20);
  fake_terminal_columns = 20;
  start_progress("\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9");  // 5 × é, 2 bytes each
  run([&](intptr_t h) { return test_multisect(h, &info, 1, 1, 2); });
  EXPECT_EQ(0u, err.find("blockmeter: \xc3\xa9\xc3\xa9\xc3\xa9\r" + std::string(18, ' ') + "\r")) << err;
}

// Worked out apart, in exact integers: r × range ÷ 32767 for the first values
// r of the sequence (41, 18467, 6334, 26500), where r × range overflows 64 bits.
TEST(random_block, draws_blocks_exactly_in_the_largest_ranges) {
  const int64_t ranges[] = {INT64_MAX, (1LL << 62) + 12345};
  const int64_t expected[][4] = {
      {11540826243203400, 5198157030078955803, 1782916912791471601, 7459314523046100005},
      {5770413121601715, 2599078515039484859, 891458456395738187, 3729657261523059987}};
  for (int i = 0; i < 2; ++i) {
    reset_random();
    for (int64_t block : expected[i]) EXPECT_EQ(block, draw_block(ranges[i])) << "range " << ranges[i];
  }
  reset_random();
  for (int i = 0; i < 100000; ++i) {
    int64_t block = draw_block(INT64_MAX);
    ASSERT_TRUE(block >= 0 && block <= INT64_MAX) << block;
  }
}

TEST(random_block, draws_the_classic_sequence) {
  reset_random();
  const int first[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464};
  for (int value : first) EXPECT_EQ(value, draw_random());
  int low = random_max, high = 0;
  for (int i = 0; i < 100000; ++i) {
    int value = draw_random();
    low = std::min(low, value);
    high = std::max(high, value);
  }
  EXPECT_EQ(0, low);
  EXPECT_EQ(random_max, high);
}

}  // namespace
