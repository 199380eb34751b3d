// The device model against rows made from known mechanics: a platter of a
// given turn, seeks of given lengths, reads a buffer answers, a limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "device_model.h"

namespace {

constexpr double block = 512;

// A random row of n reads, each o + its seek + its wait, the waits spread
// evenly over turn_us; the first unwaited share of them answered in o alone.
model_row waiting_row(double range_bytes, double o, double turn_us, std::vector<double> seeks,
                      double unwaited, int n = 800) {
  std::vector<double> times;
  for (int i = 0; i < n; ++i) {
    double wait = std::fmod(i * 0.6180339887, 1.0) * turn_us;
    times.push_back(i < unwaited * n ? o : o + seeks[(size_t)i % seeks.size()] + wait);
  }
  double first = times[0], sum = 0;
  for (double t : times) sum += t;
  std::sort(times.begin(), times.end());
  auto at = [&](double p) { return times[(size_t)std::max(1.0, std::ceil(p / 100 * n)) - 1]; };
  model_row row = {};
  row.bytes = range_bytes;
  row.reads = n;
  row.us_per_read = sum / n;
  row.mib_per_s = block / row.us_per_read * 1e6 / 1048576;
  row.trusted = row.timed = true;
  row.times = {first, times[0], at(10), at(25), at(50), at(75), at(90), at(99), at(99.9), times.back()};
  return row;
}

// A row whose every read takes us (a little apart, as measured times are).
model_row flat_row(double bytes, double us, bool timed = true) {
  model_row row = {};
  row.bytes = bytes;
  row.reads = 1000;
  row.us_per_read = us;
  row.mib_per_s = bytes / us * 1e6 / 1048576;
  row.trusted = true;
  row.timed = timed;
  row.times = {us, us * 0.97, us * 0.98, us * 0.99, us, us * 1.01, us * 1.02, us * 1.05, us * 1.1, us * 1.2};
  return row;
}

// blockmeter's 20 sequential read sizes, in bytes.
std::vector<double> sequential_sizes() {
  std::vector<double> sizes;
  for (int step = 0; step < 20; ++step) sizes.push_back((199 * step / 19 + 1) * block);
  return sizes;
}

struct disk_case {
  const char *name;
  double turn_us;
  bool buffer;
  int shown_rpm;
  bool rounded;
};

// A disk of 128 tracks of 512 KiB: ranges of a track or more wait a whole
// turn and seek more the wider they are; narrower ones are answered from the
// buffer, or wait a whole turn for the sector after the last, give or take
// the sectors between.
model_input rotating_disk(const disk_case *c) {
  const double track = 512 * 1024, o = 300;
  model_input input = {};
  for (double bytes : sequential_sizes()) {
    model_row row = flat_row(bytes, o + bytes / (track / c->turn_us));
    input.sequential.push_back(row);
  }
  for (double range = 64 * 1024 * 1024; range >= 1024; range /= 2) {
    double tracks = range / track;
    if (tracks >= 1) {
      // Same-track reads seek nothing; the others grow with the distance.
      std::vector<double> seeks = {0};
      for (int d = 1; d < std::min(tracks, 8.0); ++d)
        seeks.push_back(800 + 9000 * std::sqrt((tracks - 1) / 127) * d / 8);
      input.random.push_back(waiting_row(range, o, c->turn_us, seeks, 0));
    } else if (c->buffer) {
      input.random.push_back(waiting_row(range, o, 40, {0}, 0));
    } else {
      input.random.push_back(waiting_row(range, 0.99 * c->turn_us, 0.02 * c->turn_us, {0}, 0));
    }
  }
  return input;
}

class rotating : public testing::TestWithParam<disk_case> {};

TEST_P(rotating, tells_the_turn_access_seek_and_buffer) {
  model_input input = rotating_disk(&GetParam());
  device_model model;
  model_device(&input, &model);
  ASSERT_EQ(kind_rotating, model.kind) << model.basis;
  EXPECT_NEAR(GetParam().turn_us / 1000, model.turn_ms, 0.02 * GetParam().turn_us / 1000);
  EXPECT_NEAR(GetParam().shown_rpm, model.shown_rpm, GetParam().rounded ? 0 : 0.01 * GetParam().shown_rpm);
  EXPECT_EQ(GetParam().rounded, model.rpm_rounded);
  EXPECT_DOUBLE_EQ(input.random[0].us_per_read / 1000, model.access_ms);
  EXPECT_EQ(64.0 * 1024 * 1024, model.access_range_bytes);
  // The overhead is the fastest read, and the seek what the access holds besides it and half a turn.
  EXPECT_NEAR(0.3, model.overhead_ms, 0.01);
  EXPECT_NEAR(model.access_ms - model.turn_ms / 2 - 0.3, model.seek_ms, 0.02);
  EXPECT_EQ(GetParam().buffer ? buffer_serves : buffer_none, model.buffer) << model.buffer_text;

  std::vector<model_line> lines;
  describe_device_model(&model, &lines);
  ASSERT_EQ(5u, lines.size());
  EXPECT_EQ("rotating (", lines[0].text.substr(0, 10));
  EXPECT_EQ(std::to_string(model.shown_rpm) + " rpm (", lines[1].text.substr(0, lines[1].text.find('(') + 1));
}

INSTANTIATE_TEST_SUITE_P(
    , rotating,
    testing::Values(disk_case{"at_7200_rpm_with_a_buffer", 60000000.0 / 7200, true, 7200, true},
                    disk_case{"near_7200_rpm_without_one", 60000000.0 / 7100, false, 7200, true},
                    disk_case{"at_6900_rpm_no_usual_speed", 60000000.0 / 6900, false, 6900, false},
                    disk_case{"at_15000_rpm", 4000, true, 15000, true}),
    [](const testing::TestParamInfo<disk_case> &info) { return std::string(info.param.name); });

// Reads answered from the buffer at the fastest would lengthen the turn's
// estimate by as many as they are; the deciles tell how many.
TEST(device_model, reads_the_buffer_answered_do_not_lengthen_the_turn) {
  disk_case c = {"", 8000, true, 7500, false};
  model_input input = rotating_disk(&c);
  for (model_row &row : input.random)
    if (row.bytes >= 512 * 1024 && row.bytes <= 2 * 1024 * 1024)
      row = waiting_row(row.bytes, 300, 8000, {0, 800}, 0.06);
  device_model model;
  model_device(&input, &model);
  ASSERT_EQ(kind_rotating, model.kind) << kind_name(model.kind) << ": " << model.basis;
  // Uncorrected, 6 % of reads unwaited would lengthen it by 6 %.
  EXPECT_NEAR(8.0, model.turn_ms, 0.32);
}

// The host's wake-up after a longer wait lengthens the spread of the wider
// rows' waits; without a buffer, the narrowest rows' whole turns are free of it.
TEST(device_model, a_whole_turns_wait_tells_the_turn_where_no_buffer_answers) {
  disk_case stretched = {"", 6420, false, 10000, true};
  model_input input = rotating_disk(&stretched);
  for (model_row &row : input.random)
    if (row.bytes < 512 * 1024) row = waiting_row(row.bytes, 5940, 120, {0}, 0);
  device_model model;
  model_device(&input, &model);
  ASSERT_EQ(kind_rotating, model.kind) << model.basis;
  EXPECT_TRUE(model.turn_whole);
  EXPECT_NEAR(6.0, model.turn_ms, 0.01);
  EXPECT_EQ(10000, model.shown_rpm);
  EXPECT_EQ(1024.0, model.turn_from_bytes);
  std::vector<model_line> lines;
  describe_device_model(&model, &lines);
  EXPECT_NE(std::string::npos, lines[1].text.find("each a whole turn's wait for the sector after the last"));

  // Reads that take one time far from the spread's turn are not its whole turn.
  for (model_row &row : input.random)
    if (row.bytes < 512 * 1024) row = waiting_row(row.bytes, 4000, 120, {0}, 0);
  model_device(&input, &model);
  EXPECT_FALSE(model.turn_whole);
  EXPECT_NEAR(6.42, model.turn_ms, 0.13);
}

TEST(device_model, a_limit_of_reads_per_second) {
  model_input input = {};
  for (double bytes : sequential_sizes())
    input.sequential.push_back(flat_row(bytes, 500 * (bytes > 50000 ? 1.03 : 0.98)));
  for (double range = 32 * 1024 * 1024; range >= 1024; range /= 2)
    input.random.push_back(flat_row(range, 497));
  device_model model;
  model_device(&input, &model);
  ASSERT_EQ(kind_rate_limited, model.kind) << model.basis;
  EXPECT_NEAR(1e6 / 497, model.limit_reads_per_s, 0.5);
  std::vector<model_line> lines;
  describe_device_model(&model, &lines);
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("limit", std::string(lines[1].label));
  EXPECT_EQ("2012 reads/s (", lines[1].text.substr(0, 14));
}

// A flash device's reads cost more the larger they are, but no more the
// farther apart they land.
TEST(device_model, flash_is_flat_across_the_volume_but_not_across_sizes) {
  model_input input = {};
  for (double bytes : sequential_sizes()) input.sequential.push_back(flat_row(bytes, 80 + bytes / 1000));
  double us = 82;
  for (double range = 256 * 1024 * 1024; range >= 1024; range /= 2)
    input.random.push_back(flat_row(range, us += 0.7));
  device_model model;
  model_device(&input, &model);
  EXPECT_EQ(kind_flash_like, model.kind) << model.basis;
  EXPECT_EQ(0, model.limit_reads_per_s);
}

TEST(device_model, a_limit_of_bytes_per_second) {
  model_input input = {};
  // 40 MiB/s at most, reached from 32 KiB reads on.
  for (double bytes : sequential_sizes()) {
    model_row row = flat_row(bytes, std::max(60 + bytes / 1e4, bytes / (40 * 1.048576)));
    input.sequential.push_back(row);
  }
  for (double range = 256 * 1024 * 1024; range >= 1024; range /= 2)
    input.random.push_back(flat_row(range, 70));
  device_model model;
  model_device(&input, &model);
  ASSERT_EQ(kind_rate_limited, model.kind) << kind_name(model.kind) << ": " << model.basis;
  EXPECT_NEAR(40, model.limit_mib_per_s, 0.1);
  EXPECT_EQ(0, model.limit_reads_per_s);
}

TEST(device_model, faster_than_its_link_or_than_any_device_is_a_cache) {
  model_input input = {};
  // At most 100 KiB in 316 us: 309 MiB/s.
  for (double bytes : sequential_sizes()) input.sequential.push_back(flat_row(bytes, 60 + bytes / 400));
  for (double range = 256 * 1024 * 1024; range >= 1024; range /= 2)
    input.random.push_back(flat_row(range, 30));
  device_model model;
  model_device(&input, &model);
  EXPECT_EQ(kind_flash_like, model.kind) << model.basis;
  input.link = "USB 480 Mb/s";
  input.link_bytes_per_s = 60e6;
  model_device(&input, &model);
  EXPECT_EQ(kind_cache, model.kind);
  EXPECT_NE(std::string::npos, model.basis.find("its link (USB 480 Mb/s)")) << model.basis;
  // As fast as a link of 5 Gb/s carries: no cache needed.
  input.link_bytes_per_s = 500e6;
  model_device(&input, &model);
  EXPECT_EQ(kind_flash_like, model.kind);
  for (model_row &row : input.random) row = flat_row(row.bytes, 3);
  model_device(&input, &model);
  EXPECT_EQ(kind_cache, model.kind) << model.basis;
  // Memory held to a rate is the rate.
  for (model_row &row : input.sequential) row = flat_row(row.bytes, 500);
  for (model_row &row : input.random) row = flat_row(row.bytes, 500), row.times.p50 = 3;
  model_device(&input, &model);
  EXPECT_EQ(kind_rate_limited, model.kind) << model.basis;
}

// What cannot be told is not guessed: a rising curve of milliseconds with no
// read times, a slow flat one, too few rows.
TEST(device_model, unclear_says_why) {
  model_input input = {};
  for (double bytes : sequential_sizes())
    input.sequential.push_back(flat_row(bytes, 300 + bytes / 50, false));
  double us = 4000;
  for (double range = 256 * 1024 * 1024; range >= 1024; range /= 2)
    input.random.push_back(flat_row(range, us *= 0.93, false));
  device_model model;
  model_device(&input, &model);
  EXPECT_EQ(kind_unclear, model.kind);
  EXPECT_NE(std::string::npos, model.basis.find("no read times")) << model.basis;
  for (model_row &row : input.random) row = flat_row(row.bytes, 6000);
  model_device(&input, &model);
  EXPECT_EQ(kind_unclear, model.kind);
  EXPECT_NE(std::string::npos, model.basis.find("too slow for flash")) << model.basis;
  for (model_row &row : input.random) row.trusted = false;
  model_device(&input, &model);
  EXPECT_EQ(kind_unclear, model.kind);
  EXPECT_NE(std::string::npos, model.basis.find("too few random rows")) << model.basis;
}

}  // namespace
