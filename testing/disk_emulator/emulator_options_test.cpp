// The emulator's command line: values read back exactly, sizes with their
// multiples, every refusal with the words it gives; the model described; and
// the image's bytes.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "disk_image.h"
#include "emulator_options.h"

namespace {

int parse(std::vector<std::string> args, emulator_options *options, std::string *why) {
  args.insert(args.begin(), "disk-emulator");
  std::vector<const char *> argv;
  for (const std::string &arg : args) argv.push_back(arg.c_str());
  return parse_emulator_options((int)argv.size(), argv.data(), options, why);
}

TEST(emulator_options, read_back_every_value_they_were_given) {
  // Size, rpm, track, overhead, track-to-track, full stroke, buffer, spin-down, wake.
  const disk_model model = {3 << 20, 5400.5, 48 << 10, 0.1, 1.0 / 3, 22.25, false, 1500, 0};
  std::vector<std::string> args = format_model_options(&model);
  args.push_back("mnt");
  emulator_options options;
  std::string why;
  ASSERT_EQ(0, parse(args, &options, &why)) << why;
  const disk_model &read = options.model;
  EXPECT_EQ(model.size_bytes, read.size_bytes);
  EXPECT_EQ(model.rpm, read.rpm);
  EXPECT_EQ(model.track_bytes, read.track_bytes);
  EXPECT_EQ(model.overhead_us, read.overhead_us);
  EXPECT_EQ(model.track_to_track_ms, read.track_to_track_ms);
  EXPECT_EQ(model.full_stroke_ms, read.full_stroke_ms);
  EXPECT_EQ(model.track_buffer, read.track_buffer);
  EXPECT_EQ(model.spin_down_ms, read.spin_down_ms);
  EXPECT_EQ(model.wake_ms, read.wake_ms);
  EXPECT_EQ("mnt", options.mount_point);
}

TEST(emulator_options, read_the_rest_as_written) {
  emulator_options options;
  std::string why;
  ASSERT_EQ(0, parse({"--size=1G", "--track-bytes", "512k", "--buffer=off", "--loop", "--log", "reads.log",
                      "mnt", "--buffer", "on"},
                     &options, &why))
      << why;
  EXPECT_EQ(1LL << 30, options.model.size_bytes);
  EXPECT_EQ(512 << 10, options.model.track_bytes);
  EXPECT_TRUE(options.model.track_buffer) << "the later --buffer wins";
  EXPECT_TRUE(options.attach_loop);
  EXPECT_EQ("reads.log", options.log_path);
  EXPECT_FALSE(options.print_model);
}

struct size_case {
  const char *text;
  int64_t bytes;
};

class emulator_sizes : public testing::TestWithParam<size_case> {};

TEST_P(emulator_sizes, multiply_by_their_unit) {
  emulator_options options;
  std::string why;
  ASSERT_EQ(0, parse({"--size", GetParam().text, "--track-bytes", GetParam().text, "--print-model"}, &options,
                     &why))
      << why;
  EXPECT_EQ(GetParam().bytes, options.model.size_bytes);
  EXPECT_EQ(GetParam().bytes, options.model.track_bytes);
}

INSTANTIATE_TEST_SUITE_P(, emulator_sizes,
                         testing::Values(size_case{"4096", 4096}, size_case{"64K", 65536},
                                         size_case{"3m", 3 << 20}, size_case{"2G", 2LL << 30},
                                         size_case{"1T", 1LL << 40}));

struct refusal_case {
  std::vector<std::string> args;
  const char *why;
};

class emulator_refusals : public testing::TestWithParam<refusal_case> {};

TEST_P(emulator_refusals, name_the_option_and_the_reason) {
  emulator_options options;
  std::string why;
  EXPECT_EQ(-1, parse(GetParam().args, &options, &why));
  EXPECT_EQ(GetParam().why, why);
}

INSTANTIATE_TEST_SUITE_P(
    , emulator_refusals,
    testing::Values(
        refusal_case{{"--rpm", "fast", "mnt"}, "--rpm fast: not a number"},
        refusal_case{{"--rpm", "7200rpm", "mnt"}, "--rpm 7200rpm: not a number"},
        refusal_case{{"--t2t-ms", " 1", "mnt"}, "--t2t-ms  1: not a number"},
        refusal_case{{"--t2t-ms", "nan", "mnt"}, "--t2t-ms nan: not a number"},
        refusal_case{{"--wake-ms=", "mnt"}, "--wake-ms : not a number"},
        refusal_case{{"--rpm", "59", "mnt"}, "--rpm 59: must be from 60 to 100000"},
        refusal_case{{"--rpm", "100001", "mnt"}, "--rpm 100001: must be from 60 to 100000"},
        refusal_case{{"--overhead-us", "-1", "mnt"}, "--overhead-us -1: must be from 0 to 1000000"},
        refusal_case{{"--full-stroke-ms", "1000.5", "mnt"},
                     "--full-stroke-ms 1000.5: must be from 0 to 1000"},
        refusal_case{{"--spin-down-ms", "3600001", "mnt"},
                     "--spin-down-ms 3600001: must be from 0 to 3600000"},
        refusal_case{{"--wake-ms", "60001", "mnt"}, "--wake-ms 60001: must be from 0 to 60000"},
        refusal_case{{"--size", "12X", "mnt"},
                     "--size 12X: not a size (bytes, or a whole number with K, M, G or T)"},
        refusal_case{{"--size", "1.5M", "mnt"},
                     "--size 1.5M: not a size (bytes, or a whole number with K, M, G or T)"},
        refusal_case{{"--size", "-512", "mnt"},
                     "--size -512: not a size (bytes, or a whole number with K, M, G or T)"},
        refusal_case{{"--size", "256", "mnt"}, "--size 256: must be from 512 to 1099511627776 bytes"},
        refusal_case{{"--size", "2T", "mnt"}, "--size 2T: must be from 512 to 1099511627776 bytes"},
        refusal_case{{"--size", "17179869184G", "mnt"},
                     "--size 17179869184G: must be from 512 to 1099511627776 bytes"},
        refusal_case{{"--size", "99999999999999999999", "mnt"},
                     "--size 99999999999999999999: must be from 512 to 1099511627776 bytes"},
        refusal_case{{"--size", "1000", "mnt"}, "--size 1000: not a whole number of 512-byte sectors"},
        refusal_case{{"--size", "1M", "--track-bytes", "2M", "mnt"},
                     "--track-bytes 2097152: larger than the disk (--size 1048576)"},
        refusal_case{{"--size", "1T", "--track-bytes", "32K", "mnt"},
                     "--track-bytes 32768: makes 33554432 tracks of the disk; at most 16777216"},
        refusal_case{{"--t2t-ms", "5", "--full-stroke-ms", "4", "mnt"},
                     "--full-stroke-ms 4: shorter than --t2t-ms 5"},
        refusal_case{{"--buffer", "yes", "mnt"}, "--buffer yes: must be on or off"},
        refusal_case{{"--log=", "mnt"}, "--log needs a file name"},
        refusal_case{{"mnt", "--rpm"}, "--rpm needs a value"},
        refusal_case{{"--loop=yes", "mnt"}, "--loop takes no value"},
        refusal_case{{"--rmp", "7200", "mnt"}, "unknown option --rmp"},
        refusal_case{{"mnt", "other"}, "unexpected argument other after the mount point mnt"},
        refusal_case{{"--rpm", "5400"}, "no mount point given"}));

TEST(emulator_options, need_no_mount_point_to_print_the_model) {
  emulator_options options;
  std::string why;
  EXPECT_EQ(0, parse({"--print-model"}, &options, &why)) << why;
  EXPECT_EQ(0, parse({"--help"}, &options, &why)) << why;
}

// Three tracks of 10 ms a turn: the seek is 1 ms in 4 of 9 pairs of tracks
// and 10 ms in 2; access adds the overhead and half a turn.
TEST(emulator_model_text, says_what_follows_from_the_values) {
  const disk_model model = {30720, 6000, 10240, 100, 1, 10};  // bytes, rpm, track, overhead, seeks
  std::map<std::string, std::string> values;
  std::istringstream text(describe_model(&model));
  for (std::string line; std::getline(text, line);) {
    size_t equals = line.find('=');
    ASSERT_NE(std::string::npos, equals) << line;
    values[line.substr(0, equals)] = line.substr(equals + 1);
  }
  EXPECT_EQ("30720", values["size_bytes"]);
  EXPECT_EQ("on", values["track_buffer"]);
  EXPECT_EQ("3", values["tracks"]);
  EXPECT_EQ("10", values["turn_ms"]);
  EXPECT_NEAR(24 / 9.0, std::stod(values["average_seek_ms"]), 1e-12);
  EXPECT_NEAR(0.1 + 24 / 9.0 + 5, std::stod(values["average_access_ms"]), 1e-12);
  EXPECT_EQ(13u, values.size());
}

// Bytes 5 to 15 of the image from 2^32 on: the end of the word 2^32 and
// the word 2^32 + 8, little-endian.
TEST(disk_image, holds_each_word_s_own_offset) {
  char bytes[11];
  fill_image((1LL << 32) + 5, bytes, sizeof bytes);
  const char expected[11] = {0, 0, 0, 8, 0, 0, 0, 1, 0, 0, 0};
  EXPECT_EQ(0, memcmp(expected, bytes, sizeof bytes));
}

}  // namespace
