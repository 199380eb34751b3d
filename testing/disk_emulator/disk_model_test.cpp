// The drive's timing against examples worked out by hand. The drive turns at
// 6000 rpm (10 ms a turn) with 10,000 bytes per track, so a byte passes under
// the head in 1 us; 101 tracks, so seeks over 12, 45 and 100 tracks take
// 1 + 9 * sqrt(11/99) = 4, 1 + 9 * sqrt(44/99) = 7 and 10 ms. Byte x of track
// k passes at x us + k ms (modulo 10 ms). Times below are in microseconds.
#include <gtest/gtest.h>

#include <vector>

#include "disk_model.h"

namespace {

// Bytes, rpm, track, overhead, track-to-track and full stroke, buffer.
disk_model example_drive(bool track_buffer) { return {1010000, 6000, 10000, 100, 1, 10, track_buffer}; }

struct timed_read {
  double at_us;
  int64_t offset;
  int64_t bytes;
};

struct read_case {
  const char *name;
  bool track_buffer;
  std::vector<timed_read> before;
  timed_read read;
  double done_us;
  double spin_down_ms = 0;  // with a wake of 50 ms
};

int64_t ns(double us) { return (int64_t)(us * 1000 + 0.5); }

const timed_read first_read = {0, 2000, 512};  // done at 2512 us; read-ahead from 2512 on

const read_case read_cases[] = {
    // Byte 2000 passes at 2000 us, after the overhead's 100 us.
    {"waits_for_its_byte", false, {}, {0, 2000, 512}, 2000 + 512},
    // Byte 0 passed at 0 us; the next pass is a turn later.
    {"waits_a_turn_for_a_byte_just_gone", false, {}, {0, 0, 512}, 10000 + 512},
    // After 100 + 1000 us on track 1, whose byte 101 passes at 1101 us and byte 99 at 1099.
    {"seeks_to_the_next_track_in_time", false, {}, {0, 10101, 512}, 1101 + 512},
    {"seeks_to_the_next_track_and_misses", false, {}, {0, 10099, 512}, 11099 + 512},
    // After 100 + 4000 us on track 12, whose byte 2101 passes at 4101 us and byte 2099 at 4099.
    {"seeks_12_tracks_in_time", false, {}, {0, 122101, 512}, 4101 + 512},
    {"seeks_12_tracks_and_misses", false, {}, {0, 122099, 512}, 14099 + 512},
    // Full stroke: at 10100 us on track 100, whose byte 101 passes at 10101.
    {"seeks_the_full_stroke", false, {}, {0, 1000101, 512}, 10101 + 512},
    // Back from track 45 to track 33 (4000 us) at 10100 + 4000; byte 1101 of
    // track 33 passes at 1101 + 3000 + 10000 us.
    {"seeks_back_as_far", false, {{0, 452101, 512}}, {10000, 331101, 512}, 14101 + 512},
    // Byte 9000 at 9000 us, to the track's end at 10000, the seek to track 1,
    // whose byte 0 passes then at 11000, and 2000 bytes more.
    {"crosses_into_the_next_track_after_a_seek", false, {}, {0, 9000, 3000}, 13000},
    // Byte 2512 passed at 2512 us; the next pass is at 12512.
    {"without_buffer_waits_for_the_platter", false, {first_read}, {3000, 2512, 512}, 12512 + 512},
    // Read ahead by 3100 us up to byte 3100: all there after the overhead.
    {"answers_from_the_buffer", true, {first_read}, {3000, 2512, 512}, 3100},
    // Bytes up to 3512 are read ahead at 3512 us.
    {"waits_for_the_read_ahead", true, {first_read}, {3000, 3000, 512}, 3512},
    // The buffer starts at byte 2000: byte 1000 next passes at 11000 us.
    {"reads_before_the_buffer_from_the_platter", true, {first_read}, {3000, 1000, 512}, 11000 + 512},
    // A read of track 1 (done at 6512 us) drops track 0's buffer: back on
    // track 0 at 7000 + 100 + 1000 us, byte 2512 passes at 12512.
    {"drops_the_buffer_for_another_track", true, {first_read, {3000, 15000, 512}}, {7000, 2512, 512}, 13024},
    // The read-ahead reaches the track's end at 10000 us, crosses (1000 us) and
    // reads 512 bytes of track 1.
    {"goes_on_with_the_read_ahead_into_the_next_track", true, {first_read}, {3000, 9000, 1512}, 11512},
    // The read-ahead ended at 10000 us; at 12100 the drive seeks to track 1,
    // whose byte 0 passes at 21000.
    {"seeks_on_when_the_read_ahead_has_ended", true, {first_read}, {12000, 9000, 1512}, 21000 + 512},
    // The read that crossed left track 1 in the buffer from byte 10512 on.
    {"keeps_the_last_track_buffered", true, {first_read, {3000, 9000, 1512}}, {12000, 10512, 512}, 12100},
    // Idle for 100 ms: 50 ms to wake, the buffer lost; at 152612 us, byte 2512
    // next passes at 162512.
    {"wakes_after_spinning_down", true, {first_read}, {102512, 2512, 512}, 162512 + 512, 100},
    {"answers_from_the_buffer_before_spinning_down", true, {first_read}, {102400, 2512, 512}, 102500, 100},
    // Arrives while the first read is still on (until 2512 us).
    {"queues_behind_the_read_before", false, {first_read}, {1000, 2512, 512}, 12512 + 512},
    {"queues_behind_the_read_before_and_reads_ahead", true, {first_read}, {1000, 2512, 512}, 3024},
};

class model_reads : public testing::TestWithParam<read_case> {};

TEST_P(model_reads, finish_when_worked_out_by_hand) {
  const read_case &c = GetParam();
  disk_model model = example_drive(c.track_buffer);
  model.spin_down_ms = c.spin_down_ms;
  model.wake_ms = 50;
  disk_state state;
  start_disk(0, &state);
  for (const timed_read &read : c.before) model_read(&model, &state, ns(read.at_us), read.offset, read.bytes);
  EXPECT_EQ(ns(c.done_us), model_read(&model, &state, ns(c.read.at_us), c.read.offset, c.read.bytes));
}

INSTANTIATE_TEST_SUITE_P(, model_reads, testing::ValuesIn(read_cases),
                         [](const testing::TestParamInfo<read_case> &info) { return info.param.name; });

// The same reads on a clock that has run for days: the platter's angle is
// still taken from the clock's own zero.
TEST(model_reads_late, keep_the_platter_s_angle_on_a_clock_that_ran_long) {
  disk_model model = example_drive(false);
  disk_state state;
  int64_t day = 86400LL * 1000000000;  // a whole number of turns
  start_disk(3 * day, &state);
  EXPECT_EQ(3 * day + ns(4101 + 512), model_read(&model, &state, 3 * day, 122101, 512));
}

TEST(model_geometry, counts_a_short_last_track) {
  disk_model model = example_drive(false);
  EXPECT_EQ(101, count_tracks(&model));
  model.size_bytes += 1;
  EXPECT_EQ(102, count_tracks(&model));
}

TEST(model_geometry, seeks_as_the_square_root_of_the_distance) {
  disk_model model = example_drive(false);
  EXPECT_EQ(0, seek_ms(&model, 0));
  EXPECT_DOUBLE_EQ(1, seek_ms(&model, 1));
  EXPECT_DOUBLE_EQ(4, seek_ms(&model, 12));
  EXPECT_DOUBLE_EQ(7, seek_ms(&model, 45));
  EXPECT_DOUBLE_EQ(10, seek_ms(&model, 100));
  model.size_bytes = 20000;  // two tracks
  EXPECT_DOUBLE_EQ(1, seek_ms(&model, 1));
}

// Three tracks: distance 0 in 3 of 9 pairs, 1 in 4 (1 ms), 2 in 2 (10 ms).
TEST(model_geometry, averages_the_seek_over_pairs_of_tracks) {
  disk_model model = example_drive(false);
  model.size_bytes = 30000;
  EXPECT_DOUBLE_EQ((4 * 1 + 2 * 10) / 9.0, average_seek_ms(&model));
}

}  // namespace
