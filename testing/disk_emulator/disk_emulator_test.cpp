// The built disk-emulator on a loop device: every read reaches it with its
// own offset and size and gets the image's bytes, nothing can write, the
// times measured here (through the loop device and FUSE) are the model's, and
// nothing is left behind, even when the test that started it is killed.
//
// The drive: 6000 rpm (10 ms a turn), 66 tracks of 64 KiB, 0.5 ms of
// overhead, seeks of 2 ms to the next track and 10 ms over the full stroke, so
// seek(d) = 2 + 8 * sqrt((d - 1) / 64): 2 ms over 1 track, 6 over 17, 10 over
// 65. A block of 512 bytes passes in 10 / 128 ms. Times are means over a few
// hundred reads, within tolerances that a machine busy with other work keeps
// and a wrong model breaks: 12 %, and above that the round trip through the
// loop device and FUSE, which takes a few tenths of a millisecond more when
// other work keeps the processors busy. Each mean leaves out the quickest
// and the slowest 5 % of its reads; an even wait keeps its mean of half a
// turn.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <random>
#include <sstream>

#include "emulated_disk.h"

namespace {

constexpr int64_t track = 64 << 10;
constexpr double turn_ms = 10, overhead_ms = 0.5, block_ms = 10.0 / 128;
constexpr double tolerance = 0.12, round_trip_ms = 0.5;

disk_model test_drive(bool track_buffer) {
  disk_model model;
  model.size_bytes = 66 * track;
  model.rpm = 6000;
  model.track_bytes = track;
  model.overhead_us = overhead_ms * 1000;
  model.track_to_track_ms = 2;
  model.full_stroke_ms = 10;
  model.track_buffer = track_buffer;
  return model;
}

// Checks a mean time against the model's, and shows both for whoever checks
// the emulator's accuracy on a machine of theirs.
void expect_mean(const char *what, double measured, double model) {
  printf("%s: %.3f ms a read, the model's %.3f (%+.1f %%)\n", what, measured, model,
         100 * (measured - model) / model);
  EXPECT_GE(measured, model * (1 - tolerance)) << what;
  EXPECT_LE(measured, model * (1 + tolerance) + round_trip_ms) << what;
}

// The mean of the middle 90 % of the values: a rare stall of a busy machine,
// a hundred milliseconds long, would otherwise count for as much as a
// thousand reads' worth of a fault.
double middle_mean(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t cut = values.size() / 20;
  double sum = 0;
  for (size_t i = cut; i < values.size() - cut; ++i) sum += values[i];
  return sum / (double)(values.size() - 2 * cut);
}

// The value below which a share of the values lie (nearest rank).
double quantile(std::vector<double> values, double share) {
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, (size_t)(share * (double)values.size()))];
}

std::string sysfs(const std::string &node, const std::string &file) {
  std::string value;
  std::ifstream("/sys/block/" + node.substr(node.rfind('/') + 1) + "/" + file) >> value;
  return value;
}

class drive : public testing::Test {
 protected:
  void start(bool track_buffer) {
    model = test_drive(track_buffer);
    START_EMULATED_DISK(&model, &disk);
    fd = open(disk.node.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
    ASSERT_GE(fd, 0) << disk.node << ": " << strerror(errno);
    buf = aligned_alloc(4096, track);
    ASSERT_NE(nullptr, buf);
  }
  void TearDown() override {
    if (fd >= 0) close(fd);
    free(buf);
    std::string why;
    EXPECT_EQ(0, stop_emulated_disk(&disk, &why)) << why;
  }
  bool started() { return !IsSkipped() && !HasFatalFailure(); }

  // The time a direct read of the loop device takes, in ms.
  double time_read(int64_t offset, size_t bytes) {
    auto start = std::chrono::steady_clock::now();
    ssize_t got = pread(fd, buf, bytes, offset);
    auto end = std::chrono::steady_clock::now();
    EXPECT_EQ((ssize_t)bytes, got) << "at " << offset << ": " << strerror(errno);
    return std::chrono::duration<double, std::milli>(end - start).count();
  }

  // A random block of the track.
  int64_t random_block(int64_t on_track) {
    return on_track * track + (int64_t)(draws() % (track / 512)) * 512;
  }

  disk_model model;
  emulated_disk disk;
  int fd = -1;
  void *buf = nullptr;
  std::mt19937 draws{20240611};
};

TEST_F(drive, passes_every_read_to_the_emulator_and_none_for_writing) {
  start(false);
  if (!started()) return;
  EXPECT_EQ("1", sysfs(disk.node, "loop/dio")) << "the loop device reads its file through the page cache";
  EXPECT_EQ("1", sysfs(disk.node, "ro"));
  EXPECT_EQ(std::to_string(model.size_bytes / 512), sysfs(disk.node, "size"));
  // The kernel may open a read-only device for writing, but not write to it.
  int writer = open(disk.node.c_str(), O_WRONLY | O_DIRECT | O_CLOEXEC);
  if (writer >= 0) {
    EXPECT_LT(pwrite(writer, buf, 512, 0), 0) << "wrote to " << disk.node;
    close(writer);
  }
  EXPECT_LT(open(disk.image.c_str(), O_WRONLY | O_CLOEXEC), 0) << disk.image << " opened for writing";

  struct stat log;
  ASSERT_EQ(0, stat(disk.log.c_str(), &log));
  // The same block twice: a cache would answer the second.
  const std::pair<int64_t, size_t> reads[] = {{1000 * 512, 512}, {1000 * 512, 512}, {5 * track + 1024, 1536}};
  for (auto [offset, bytes] : reads) {
    time_read(offset, bytes);
    for (size_t i = 0; i < bytes; i += 8)
      ASSERT_EQ(offset + (int64_t)i, *(int64_t *)((char *)buf + i))
          << "byte " << i << " of the read at " << offset;
  }
  std::ifstream lines(disk.log);
  lines.seekg(log.st_size);
  for (auto [offset, bytes] : reads) {
    long long logged_offset = -1, logged_bytes = -1, arrived = 0, done = 0;
    ASSERT_TRUE(lines >> logged_offset >> logged_bytes >> arrived >> done) << "fewer reads than were made";
    EXPECT_EQ(offset, logged_offset);
    EXPECT_EQ((long long)bytes, logged_bytes);
    EXPECT_GE(done - arrived, (long long)(overhead_ms * 1e6));
  }
  std::string more;
  EXPECT_FALSE(lines >> more) << "more reads than were made";
}

// Random blocks of one track: the wait for the platter is even over a turn,
// half a turn on average, and its 10th to 90th percentile 0.8 of a turn apart.
TEST_F(drive, waits_half_a_turn_on_average_within_a_track) {
  start(false);
  if (!started()) return;
  std::vector<double> times;
  for (int i = 0; i < 300; ++i) times.push_back(time_read(random_block(3), 512));
  expect_mean("random blocks of one track", middle_mean(times), overhead_ms + turn_ms / 2 + block_ms);
  double spread = quantile(times, 0.9) - quantile(times, 0.1);
  printf("their 10th to 90th percentile: %.3f ms apart, the model's %.3f\n", spread, 0.8 * turn_ms);
  EXPECT_NEAR(0.8 * turn_ms, spread, 0.15 * 0.8 * turn_ms);
}

struct seek_case {
  int tracks;
  double seek_ms;
};

class seeks : public drive, public testing::WithParamInterface<seek_case> {};

// Random blocks of track 0 and track d in turn: each read seeks d tracks,
// then waits half a turn on average.
TEST_P(seeks, take_the_time_of_their_distance) {
  start(false);
  if (!started()) return;
  std::vector<double> times;
  for (int i = 0; i < 200; ++i)
    times.push_back(time_read(random_block(i % 2 == 0 ? GetParam().tracks : 0), 512));
  expect_mean(("seeks over " + std::to_string(GetParam().tracks) + " tracks").c_str(), middle_mean(times),
              overhead_ms + GetParam().seek_ms + turn_ms / 2 + block_ms);
}

INSTANTIATE_TEST_SUITE_P(, seeks, testing::Values(seek_case{1, 2}, seek_case{17, 6}, seek_case{65, 10}),
                         [](const testing::TestParamInfo<seek_case> &info) {
                           return "over_" + std::to_string(info.param.tracks) + "_tracks";
                         });

// Block after block along a track: each is read ahead by the time it is
// asked for, so it costs the overhead, where without the buffer it would have
// just passed and cost a turn.
TEST_F(drive, answers_the_next_blocks_from_the_track_buffer) {
  start(true);
  if (!started()) return;
  time_read(2 * track, 512);
  std::vector<double> times;
  for (int i = 1; i < 100; ++i) times.push_back(time_read(2 * track + i * 512, 512));
  EXPECT_GE(quantile(times, 0), overhead_ms);
  expect_mean("blocks read ahead", middle_mean(times), overhead_ms);
}

bool is_mounted(const std::string &path) {
  std::ifstream mounts("/proc/self/mountinfo");
  for (std::string line; std::getline(mounts, line);)
    if (line.find(" " + path + " ") != std::string::npos) return true;
  return false;
}

// A process that is gone, or a zombie no one has reaped yet.
bool has_ended(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  return !std::getline(stat, line) || line.find(") Z ") != std::string::npos;
}

// Starts a disk in a child process, standing for a test, which says on a pipe
// "started PID IMAGE_DEVICE NODE FOLDER", "refused WHY" or "failed WHY", and
// is then killed. Without mounts, the child may no longer mount anything
// (nor may the emulator it starts), as in a container without the right.
std::string start_in_child(const disk_model *model, bool without_mounts) {
  int ends[2];
  if (pipe(ends) != 0) return "failed pipe";
  pid_t starter = fork();
  if (starter == 0) {
    close(ends[0]);
    if (without_mounts) prctl(PR_CAPBSET_DROP, CAP_SYS_ADMIN);
    emulated_disk disk;
    std::string why;
    std::ostringstream said;
    if (start_emulated_disk(model, &disk, &why) == 0)
      said << "started " << disk.pid << " " << disk.image_device << " " << disk.node << " " << disk.folder;
    else
      said << (disk.refused ? "refused " : "failed ") << why;
    std::string text = said.str();
    if (write(ends[1], text.data(), text.size()) < 0) _exit(1);
    close(ends[1]);
    pause();
    _exit(0);
  }
  close(ends[1]);
  std::string said = starter < 0 ? "failed fork" : "";
  char chunk[4096];
  for (ssize_t n; starter > 0 && (n = read(ends[0], chunk, sizeof chunk)) > 0;) said.append(chunk, (size_t)n);
  close(ends[0]);
  if (starter > 0) kill(starter, SIGKILL), waitpid(starter, nullptr, 0);
  return said;
}

// A system that will not mount is told from a fault of the test's own, so
// that the one skips and the other fails.
TEST(emulated_disk, tells_a_refusal_from_a_failure) {
  if (geteuid() != 0) SKIP_OR_FAIL("an emulated disk needs root (a FUSE mount and a loop device)");
  disk_model model = test_drive(true);
  std::string said = start_in_child(&model, true);
  EXPECT_TRUE(said.starts_with("refused ")) << said;
  model.rpm = 0;
  said = start_in_child(&model, false);
  EXPECT_TRUE(said.starts_with("failed ") && said.find("--rpm 0") != std::string::npos) << said;
}

// The test that started the disk is killed: the emulator unmounts itself and
// lets the kernel detach the loop device.
TEST(emulated_disk, leaves_nothing_behind_when_its_starter_is_killed) {
  disk_model model = test_drive(true);
  std::string said = start_in_child(&model, false);
  if (said.starts_with("refused ")) SKIP_OR_FAIL(said.substr(8));
  std::istringstream words(said);
  std::string outcome;
  emulated_disk disk;
  words >> outcome >> disk.pid >> disk.image_device >> disk.node >> disk.folder;
  ASSERT_EQ("started", outcome) << said;

  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!has_ended(disk.pid) && std::chrono::steady_clock::now() < deadline) usleep(10000);
  EXPECT_TRUE(has_ended(disk.pid)) << "disk-emulator did not end within 10 s of its starter";
  EXPECT_FALSE(is_mounted(disk.folder + "/mnt")) << "still mounted";
  while (is_emulated_disk_attached(&disk) && std::chrono::steady_clock::now() < deadline) usleep(10000);
  EXPECT_FALSE(is_emulated_disk_attached(&disk)) << disk.node << " still attached";
  disk.pid = -1;
  std::string why;
  EXPECT_EQ(0, stop_emulated_disk(&disk, &why)) << why;
}

struct refusal_case {
  const char *name;
  std::vector<std::string> args;
  const char *err;
};

class emulator_refusals : public testing::TestWithParam<refusal_case> {};

// Named by the emulator itself, with its status for a bad command line, and
// the outside text in it made safe for a terminal.
TEST_P(emulator_refusals, name_what_is_wrong) {
  std::vector<std::string> argv = {bin_dir() + "/disk-emulator"};
  argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
  program_options options;
  options.timeout_ms = 10000;
  program_run run;
  ASSERT_TRUE(run_program(argv, &options, &run)) << run.error;
  EXPECT_EQ(2, run.status);
  EXPECT_EQ(GetParam().err, run.err);
  EXPECT_EQ("", run.out);
}

INSTANTIATE_TEST_SUITE_P(, emulator_refusals,
                         testing::Values(refusal_case{"a_bad_value",
                                                      {"--rpm", "0\x1b[2J", "mnt"},
                                                      "disk-emulator: --rpm 0\\x1b[2J: not a number\n"
                                                      "(disk-emulator --help lists the options)\n"},
                                         refusal_case{
                                             "a_mount_point_that_is_no_folder",
                                             {"/dev/null"},
                                             "disk-emulator: cannot mount at /dev/null: Not a directory\n"}),
                         [](const testing::TestParamInfo<refusal_case> &info) { return info.param.name; });

}  // namespace
