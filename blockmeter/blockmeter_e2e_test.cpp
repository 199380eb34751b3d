// The built blockmeter on real volumes: a regular file, a loop device with an
// ext4 file system (by its mount point and by its node), roots that cannot be
// read, and the Windows build under Wine on a drive letter mapped to the loop
// device. Volumes are kept small so that a whole run takes seconds.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "e2e_support.h"

namespace {

// The sanitizers' leak check cannot work in a traced process.
const char leak_check_off[] = "ASAN_OPTIONS=detect_leaks=0";

std::string scratch_dir() { return ::scratch_dir("blockmeter"); }

// Whether value is start doubled or halved (by shifts) some number of times.
bool is_shifted(long long value, long long start) {
  for (int k = 0; k < 40; ++k)
    if (value == start << k || value == start >> k) return true;
  return false;
}

// The speed a row shows for bytes read in ms, as blockmeter prints it.
void expect_speed(double speed, double bytes, int ms, bool reads_may_fail, const std::string &row) {
  double full = bytes / (ms / 1000.0) / 1048576;
  if (reads_may_fail)
    EXPECT_LE(speed, full + 1e-3) << row;
  else
    EXPECT_NEAR(full, speed, 1e-3 + full * 1e-6) << row;
}

// Checks one drive's output, from its information line on, against what
// holds whatever the times were: the read sizes from 1 to 200 blocks in 20
// even steps, no step reading past n_blocks, counts that start at 1000 and 100
// and only ever double or halve, ranges halved from n_blocks down to 2 or 3,
// and a speed in each row that is its bytes over its time.
void check_drive_output(const std::vector<std::string> &lines, size_t at, const std::string &root,
                        uint32_t block_size, long long n_blocks, bool reads_may_fail = false) {
  ASSERT_LT(at, lines.size());
  char expected_info[512];
  snprintf(expected_info, sizeof expected_info, "drive %s information: block_size=%u, n_blocks=%lld",
           root.c_str(), block_size, n_blocks);
  ASSERT_EQ(expected_info, lines[at]);
  ASSERT_LT(at + 4, lines.size());
  EXPECT_EQ("Multisector read test", lines[at + 1]);
  EXPECT_EQ(std::string(27, '-'), lines[at + 2]);
  EXPECT_EQ("       N Blocks         N Reps        Time,ms     Speed,MB/s", lines[at + 3]);
  const int sizes[] = {1,   11,  21,  32,  42,  53,  63,  74,  84,  95,
                       105, 116, 126, 137, 147, 158, 168, 179, 189, 200};
  long long previous_reps = 1000;  // of the last step not capped, while no step was
  size_t line = at + 4;
  for (int step = 0; step < 20; ++step, ++line) {
    ASSERT_LT(line, lines.size());
    int nblocks = 0, reads = 0, ms = 0;
    double speed = 0;
    ASSERT_EQ(4, sscanf(lines[line].c_str(), "%d %d %d %lf", &nblocks, &reads, &ms, &speed)) << lines[line];
    EXPECT_EQ(60u, lines[line].size()) << lines[line];
    EXPECT_EQ(sizes[step], nblocks);
    EXPECT_LE(reads, n_blocks / nblocks) << "step " << step << " reads past the end";
    if (reads < n_blocks / nblocks) {  // not capped: the count itself
      EXPECT_TRUE(is_shifted(reads, 1000))
          << "step " << step << ": " << reads << " is not 1000 doubled or halved";
      if (previous_reps > 0) {
        EXPECT_TRUE(reads == previous_reps || reads == previous_reps * 2 || reads * 2 == previous_reps)
            << "step " << step << ": from " << previous_reps << " to " << reads << " reads";
      }
      previous_reps = reads;
    } else if (step > 0) {
      previous_reps = 0;  // the count behind a capped step is not shown
    }
    EXPECT_GE(ms, 1);
    expect_speed(speed, (double)reads * nblocks * block_size, ms, reads_may_fail, lines[line]);
  }
  ASSERT_LT(line + 2, lines.size());
  EXPECT_EQ("Random read test", lines[line]);
  EXPECT_EQ(std::string(27, '-'), lines[line + 1]);
  EXPECT_EQ("   Random range         N reps        Time,ms     Speed,MB/s", lines[line + 2]);
  line += 3;
  long long previous_reads = 100;
  for (long long range = n_blocks; range > 1; range /= 2, ++line) {
    ASSERT_LT(line, lines.size()) << "no row for range " << range;
    long long shown_range = 0;
    int reads = 0, ms = 0;
    double speed = 0;
    ASSERT_EQ(4, sscanf(lines[line].c_str(), "%lld %d %d %lf", &shown_range, &reads, &ms, &speed))
        << lines[line];
    EXPECT_EQ(range, shown_range);
    EXPECT_TRUE(reads == previous_reads || (reads == previous_reads * 2 && range != n_blocks))
        << "range " << range << ": from " << previous_reads << " to " << reads << " reads per pass";
    EXPECT_GE(ms, 1);
    expect_speed(speed, (double)reads * block_size, ms, reads_may_fail, lines[line]);
    previous_reads = reads;
  }
  EXPECT_EQ(line, lines.size()) << "lines after the random table";
}

void check_banner(const std::vector<std::string> &lines) {
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(0u, lines[0].find("blockmeter " PROJECT_VERSION " - ")) << lines[0];
}

// The unit of direct reads of a file, as the kernel enforces it: the smallest
// power of two from 512 up at which it takes a direct read; 0 when it takes a
// read of 256 bytes too (it does not enforce any) or none at all.
uint32_t direct_read_unit(const std::string &path) {
  int fd = open(path.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
  if (fd < 0) return 0;
  void *buf = nullptr;
  uint32_t unit = 0;
  if (posix_memalign(&buf, 65536, 65536) == 0) {
    for (uint32_t size = 256; size <= 65536 && unit == 0; size *= 2)
      if (pread(fd, buf, size, size) >= 0) unit = size;
    free(buf);
  }
  close(fd);
  return unit == 256 ? 0 : unit;
}

// Runs blockmeter (this build's) under strace with strace_options, after the
// command prefix (such as setpriv); returns the lines of the trace.
std::vector<std::string> traced_run(const std::vector<std::string> &strace_options,
                                    const std::vector<std::string> &prefix,
                                    const std::vector<std::string> &args, program_run *run) {
  std::string trace = scratch_dir() + "/run.trace";
  std::vector<std::string> command = {"/usr/bin/env", leak_check_off, "/usr/bin/strace", "-qq", "-o", trace};
  for (const std::vector<std::string> *part : {&strace_options, &prefix})
    command.insert(command.end(), part->begin(), part->end());
  *run = run_blockmeter_under(command, args);
  std::ifstream file(trace);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

// The opens of a traced run of blockmeter; fails the test if none was seen.
std::vector<std::string> traced_opens(const std::vector<std::string> &args, program_run *run) {
  std::vector<std::string> opens = traced_run({"-f", "-e", "trace=open,openat,openat2"}, {}, args, run);
  EXPECT_FALSE(opens.empty()) << "strace saw no opens";
  return opens;
}

void check_never_opened_for_writing(const std::vector<std::string> &opens, const std::string &volume) {
  bool volume_opened = false;
  for (const std::string &open : opens) {
    EXPECT_EQ(std::string::npos, open.find("O_WRONLY")) << open;
    EXPECT_EQ(std::string::npos, open.find("O_RDWR")) << open;
    EXPECT_EQ(std::string::npos, open.find("O_CREAT")) << open;
    if (open.find("\"" + volume + "\"") != std::string::npos && open.find("O_DIRECT") != std::string::npos)
      volume_opened = true;
  }
  EXPECT_TRUE(volume_opened) << volume << " was not opened for direct reading";
}

TEST(blockmeter_e2e, reads_a_regular_file) {
  std::string path = scratch_dir() + "/volume.img";
  make_file(path, 256 * 1024 + 100);  // a partial block at the end is not counted
  uint32_t block_size = direct_read_unit(path);
  ASSERT_GE(block_size, 512u) << "the kernel does not enforce direct reads of " << path;
  program_run run = run_blockmeter({path});
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ(0u, run.err.find("blockmeter: " + path + ": reading /dev/")) << "the device under it:\n"
                                                                         << run.err;
  // Then only the read times of each row.
  check_read_reports(run.err, {path});
  EXPECT_FALSE(reports_bad_reads(run.err)) << run.err;
  check_read_times(run.out, run.err, path);
  std::vector<std::string> lines = split_lines(run.out);
  check_banner(lines);
  check_drive_output(lines, 2, path, block_size, 256 * 1024 / block_size);
}

TEST(blockmeter_e2e, fails_clearly_on_roots_it_cannot_read) {
  std::string tmpfs = scratch_dir() + "/tmpfs";
  bool have_tmpfs = false;
  shell("mkdir -p " + tmpfs + " && (mountpoint -q " + tmpfs + " || mount -t tmpfs -o size=1m none " + tmpfs +
            ")",
        &have_tmpfs);
  program_run run = run_blockmeter({"/nonexistent/root", tmpfs, "/dev/null"});
  EXPECT_EQ(255, run.status);
  EXPECT_EQ(2u, split_lines(run.out).size()) << "only the banner:\n" << run.out;
  std::string expected =
      "blockmeter: cannot read the geometry of /nonexistent/root: No such file or directory\n";
  if (have_tmpfs)
    expected += "blockmeter: cannot read the geometry of " + tmpfs +
                ": it is on a tmpfs file system, which has no block device; name a device node, or a file on "
                "a disk file system\n";
  expected +=
      "blockmeter: cannot read the geometry of /dev/null: it is a character device, not a block device, "
      "directory or regular file\n";
  EXPECT_EQ(expected, run.err);
  bool unmounted = false;
  if (have_tmpfs) shell("umount " + tmpfs, &unmounted);
  if (!have_tmpfs) SKIP_OR_FAIL("cannot mount a tmpfs here: the tmpfs case was not checked");
}

class blockmeter_on_each_build : public each_build {
 protected:
  program_run run(const std::vector<std::string> &args) { return run_blockmeter(args, build()); }
};

TEST_P(blockmeter_on_each_build, help_version_and_option_like_roots) {
  program_run help = run({"--help"});
  EXPECT_EQ(0, help.status);
  EXPECT_EQ(0u, help.out.find(console_text(build(), "Usage: blockmeter [ROOT...]\n"))) << help.out;
  const char *roots = build()->wine ? "A root is a drive root such as D:\\" : "A root is a path";
  EXPECT_NE(std::string::npos, help.out.find(roots)) << help.out;
  program_run version = run({"--version"});
  EXPECT_EQ(0, version.status);
  EXPECT_EQ(console_text(build(), "blockmeter " PROJECT_VERSION "\n"), version.out);
  program_run nonsense = run({"--nonsense"});
  EXPECT_EQ(255, nonsense.status);
  EXPECT_EQ(2u, split_lines(nonsense.out).size()) << "only the banner:\n" << nonsense.out;
  // Not a path on Linux; not a drive root on Windows.
  const char *reason = build()->wine ? "blockmeter: cannot measure --nonsense: not a drive root"
                                     : "blockmeter: cannot read the geometry of --nonsense: No such file";
  EXPECT_EQ(0u, nonsense.err.find(reason)) << nonsense.err;
}

INSTANTIATE_ON_EACH_BUILD(blockmeter_on_each_build);

// Cases that watch blockmeter's system calls with strace, on a small file.
class traced : public testing::Test {
 protected:
  void SetUp() override {
    if (access("/usr/bin/strace", X_OK) != 0) SKIP_OR_FAIL("strace not found (Debian package: strace)");
  }
  std::string path = scratch_dir() + "/traced.img";
};

TEST_F(traced, never_opens_anything_for_writing) {
  make_file(path, 64 * 1024);
  program_run run;
  std::vector<std::string> opens = traced_opens({path}, &run);
  EXPECT_EQ(0, run.status) << run.err;
  check_never_opened_for_writing(opens, path);
}

// Between the two tick readings of a row lie only the reads: one read call per
// sequential read, one positioning and one read per random read, nothing else.
TEST_F(traced, reads_cost_one_system_call_each) {
  make_file(path, 64 * 1024);
  program_run run;
  std::vector<std::string> trace = traced_run({"-s", "100", "-e", "signal=none"}, {}, {path}, &run);
  ASSERT_EQ(0, run.status) << run.err;

  // Each row is printed with one write to standard output; the calls on the
  // volume since the write before it are that row's reads and positionings.
  std::string volume_fd;
  int rows = 0, reads = 0, seeks = 0, between = 0, pending = 0;
  bool random = false;
  for (const std::string &line : trace) {
    if (volume_fd.empty()) {
      if (line.find(path) != std::string::npos && line.find("O_DIRECT") != std::string::npos)
        volume_fd = line.substr(line.rfind('=') + 2);
      continue;
    }
    bool on_volume = line.find("(" + volume_fd + ",") != std::string::npos;
    if (on_volume && (line.rfind("read(", 0) == 0 || line.rfind("lseek(", 0) == 0)) {
      (line[0] == 'r' ? reads : seeks) += 1;
      between += reads > 0 ? pending : 0;
      pending = 0;
      continue;
    }
    if (line.rfind("write(1, ", 0) != 0) {
      ++pending;
      continue;
    }
    int first = 0, shown_reads = 0, ms = 0;
    double speed = 0;
    if (line.find("Random read test") != std::string::npos) random = true;
    if (sscanf(line.c_str() + 10, "%d %d %d %lf", &first, &shown_reads, &ms, &speed) == 4) {
      EXPECT_EQ(shown_reads, reads) << "read calls of the row " << line;
      EXPECT_EQ(random ? reads : 1, seeks) << "positionings of the row " << line;
      EXPECT_EQ(0, between) << "other calls among the reads of the row " << line;
      ++rows;
    }
    reads = seeks = between = pending = 0;
  }
  EXPECT_EQ(20 + 7, rows) << "rows seen in the trace";
  EXPECT_FALSE(volume_fd.empty()) << "the volume was not opened for direct reading";
}

// The priority requests of a run and every call that names the root, in order.
std::vector<std::string> traced_priority(const std::vector<std::string> &as_user, const std::string &root,
                                         program_run *run) {
  // Stopped only at the traced calls, so the reads run at their own pace.
  std::vector<std::string> calls;
  for (const std::string &line :
       traced_run({"-f", "--seccomp-bpf", "-e",
                   "trace=setpriority,ioprio_set,sched_setscheduler,sched_setattr,sched_setparam,%file"},
                  as_user, {root}, run)) {
    bool priority = line.find("priority") != std::string::npos || line.find("ioprio") != std::string::npos ||
                    line.find("sched_") != std::string::npos;
    if (priority || line.find("\"" + root + "\"") != std::string::npos) calls.push_back(line);
  }
  return calls;
}

// The tables without their time and speed columns, and the lines of read
// times without their times, which vary from run to run.
std::string without_times(const std::string &out) {
  std::string kept;
  for (const std::string &line : split_lines(out)) {
    long long first = 0, second = 0;
    int ms = 0;
    double speed = 0;
    read_time_line times;
    if (sscanf(line.c_str(), "%lld %lld %d %lf", &first, &second, &ms, &speed) == 4)
      kept += std::to_string(first) + " " + std::to_string(second) + "\n";
    else if (parse_read_time_line(line, &times))
      kept += line.substr(0, line.rfind(": read time us: ")) + ": read time us\n";
    else
      kept += line + "\n";
  }
  return kept;
}

// Real-time CPU scheduling slows direct reads; the priority asked for is the
// highest among ordinary tasks and the real-time I/O class, asked once before
// the volume is looked at. Refused, as to a user without the rights, it
// changes nothing the program prints or returns.
TEST_F(traced, raises_priority_without_real_time_scheduling) {
  if (geteuid() != 0) SKIP_OR_FAIL("running as another user needs root");
  // So small that no row comes near the times at which reads adapt.
  make_file(path, 8 * 1024);
  program_run as_root, nobody_run;
  std::vector<std::string> calls = traced_priority({}, path, &as_root);
  ASSERT_EQ(0, as_root.status) << as_root.err;
  ASSERT_GE(calls.size(), 3u);
  EXPECT_NE(std::string::npos, calls[0].find("setpriority(PRIO_PROCESS, 0, -20) = 0")) << calls[0];
  EXPECT_NE(std::string::npos, calls[1].find("ioprio_set(IOPRIO_WHO_PROCESS, 0, "
                                             "IOPRIO_PRIO_VALUE(IOPRIO_CLASS_RT, 0)) = 0"))
      << calls[1];
  for (size_t i = 2; i < calls.size(); ++i)
    EXPECT_NE(std::string::npos, calls[i].find("\"" + path + "\"")) << "asked again or late: " << calls[i];

  calls = traced_priority(as_nobody, path, &nobody_run);
  int refused = 0;
  for (const std::string &call : calls) {
    EXPECT_EQ(std::string::npos, call.find("sched_")) << call;
    if (call.find("priority(PRIO_PROCESS, 0, -20) = -1 EACCES") != std::string::npos ||
        call.find("IOPRIO_CLASS_RT, 0)) = -1 EPERM") != std::string::npos)
      ++refused;
  }
  EXPECT_EQ(2, refused) << "both requests refused";
  EXPECT_EQ(as_root.status, nobody_run.status);
  EXPECT_EQ(without_times(as_root.err), without_times(nobody_run.err));
  EXPECT_EQ(without_times(as_root.out), without_times(nobody_run.out));
}

// A file of less than one block holds nothing to read: no tables, a failure.
TEST(blockmeter_e2e, nothing_to_measure_in_a_file_under_one_block) {
  std::string empty = scratch_dir() + "/empty.img", short_file = scratch_dir() + "/511.img";
  make_file(empty, 0);
  make_file(short_file, 511);
  program_run run = run_blockmeter({empty, short_file});
  EXPECT_EQ(255, run.status);
  std::vector<std::string> lines = split_lines(run.out);
  ASSERT_EQ(4u, lines.size()) << run.out;
  unsigned block_size = 0;
  EXPECT_EQ(1, sscanf(lines[2].c_str(),
                      ("drive " + empty + " information: block_size=%u, n_blocks=0").c_str(), &block_size))
      << lines[2];
  EXPECT_EQ("drive " + short_file + " information: block_size=" + std::to_string(block_size) + ", n_blocks=0",
            lines[3]);
  EXPECT_EQ("blockmeter: nothing to measure: " + empty + " has 0 blocks of " + std::to_string(block_size) +
                " bytes\nblockmeter: nothing to measure: " + short_file + " has 0 blocks of " +
                std::to_string(block_size) + " bytes\n",
            run.err);
}

// Results lost on their way out are no success, and the run stops at the
// first line lost: no root after it is looked at. Past a file size limit of a
// few KiB, with its signal ignored, the loss comes within the tables.
TEST(blockmeter_e2e, lost_output_fails) {
  std::string path = scratch_dir() + "/output.img";
  make_file(path, 8 * 1024);
  std::string blockmeter = program_path(native_build(), "blockmeter"),
              roots = "'" + path + "' '" + path + "' '" + path + "' /none";
  const struct {
    std::string command, reason;
  } cases[] = {{"exec \"$0\" " + roots + " >/dev/full", "No space left on device"},
               {"exec \"$0\" --help >/dev/full", "No space left on device"},
               {"trap '' XFSZ; ulimit -f 4; exec \"$0\" " + roots + " >" + scratch_dir() + "/output.txt",
                "File too large"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.command);
    program_run run;
    program_options options;
    ASSERT_TRUE(run_program({"/bin/sh", "-c", c.command, blockmeter}, &options, &run)) << run.error;
    EXPECT_EQ(255, run.status);
    std::vector<std::string> err = split_lines(run.err);
    ASSERT_FALSE(err.empty());
    EXPECT_EQ("blockmeter: cannot write to standard output: " + c.reason, err.back());
    EXPECT_EQ(std::string::npos, run.err.find("/none")) << run.err;
  }
}

// A standard stream that was closed is never taken by the volume, which would
// then get what is written there. (Without standard output nothing is read.)
TEST_F(traced, no_volume_becomes_a_standard_stream) {
  make_file(path, 8 * 1024);
  program_run run;
  std::vector<std::string> opens =
      traced_run({"-e", "trace=openat"}, {"/bin/sh", "-c", "exec \"$0\" \"$@\" <&- 2>&-"}, {path}, &run);
  EXPECT_EQ(0, run.status);
  bool opened = false;
  for (const std::string &open : opens) {
    if (open.find("\"" + path + "\"") == std::string::npos) continue;
    opened = true;
    int fd = atoi(open.substr(open.rfind('=') + 1).c_str());
    EXPECT_GE(fd, 3) << "the volume became a standard stream: " << open;
  }
  EXPECT_TRUE(opened) << "the volume was not opened";
}

// Every read of a loop device with direct I/O timed: each row that made reads
// has its line of read times, in order and in line with the row's own time.
// Where the backing file was cut after it was attached (the parameter),
// reads past the cut fail with an I/O error, are timed too and reported after
// their times, and the run fails.
class loop_device : public testing::TestWithParam<bool> {};

TEST_P(loop_device, times_every_read_and_fails_the_run_where_reads_fail) {
  if (geteuid() != 0) SKIP_OR_FAIL("loop devices need root");
  const bool cut = GetParam();
  std::string image = scratch_dir() + (cut ? "/cut.img" : "/times.img");
  make_file(image, cut ? 32 * 1024 : 256 * 1024);
  bool ok = false;
  std::string device = shell("losetup --find --show --direct-io=on '" + image + "'", &ok);
  device.erase(device.find_last_not_of("\n") + 1);
  if (!ok || device.empty()) SKIP_OR_FAIL("losetup refused here: no loop device to test on");
  if (cut) shell("truncate -s 16K '" + image + "'", &ok);
  program_run run = run_blockmeter({device});
  shell("losetup -d " + device, &ok);
  EXPECT_EQ(cut ? 255 : 0, run.status) << run.err;
  if (cut) {
    EXPECT_NE(std::string::npos, run.err.find("blockmeter: " + device +
                                              ": sequential 1 blocks: 32 of 64 reads failed or came back "
                                              "short; first: Input/output error\n"))
        << run.err;
  }
  check_read_reports(run.err, {device});
  check_read_times(run.out, run.err, device);
  check_drive_output(split_lines(run.out), 2, device, 512, cut ? 64 : 512, reports_bad_reads(run.err));
}

INSTANTIATE_TEST_SUITE_P(, loop_device, testing::Bool(), [](const testing::TestParamInfo<bool> &info) {
  return info.param ? "cut" : "whole";
});

// On a terminal, each row is named in a line drawn before it is measured and
// erased before its table row, cut short of the terminal's 80th column; in a
// pipe, standard error has none of it, and otherwise the same lines.
TEST(blockmeter_e2e, shows_progress_on_a_terminal_only) {
  std::string dir = scratch_dir();
  make_file(dir + "/p.img", 64 * 1024);  // 128 blocks: 20 sequential rows, ranges 128 to 2
  program_options options;
  options.cwd = dir.c_str();
  options.terminal = true;
  program_run on_terminal, in_pipe;
  ASSERT_TRUE(run_program({program_path(native_build(), "blockmeter"), "p.img"}, &options, &on_terminal))
      << on_terminal.error;
  ASSERT_EQ(0, on_terminal.status) << on_terminal.out;
  // What is left once each drawn line and its erasure are taken out.
  std::string text = on_terminal.out, left;
  int drawn_rows = 0;
  size_t at = 0;
  for (size_t cr; (cr = text.find('\r', at)) != std::string::npos; ++drawn_rows) {
    size_t start = text.rfind('\n', cr);
    start = start == std::string::npos || start < at ? at : start + 1;
    left += text.substr(at, start - at);
    std::string drawn = text.substr(start, cr - start);
    EXPECT_TRUE(drawn.starts_with("blockmeter: p.img: ") && drawn.size() <= 79) << drawn;
    const std::string erasure = "\r" + std::string(drawn.size(), ' ') + "\r";
    ASSERT_EQ(erasure, text.substr(cr, erasure.size())) << "not erased: " << drawn;
    at = cr + erasure.size();
    long long key = 0, reads = 0;
    EXPECT_EQ(2, sscanf(text.c_str() + at, "%lld %lld", &key, &reads)) << "no table row after: " << drawn;
  }
  left += text.substr(at);
  EXPECT_EQ(20 + 7, drawn_rows) << "rows named on the terminal";

  options.terminal = false;
  ASSERT_TRUE(run_program({program_path(native_build(), "blockmeter"), "p.img"}, &options, &in_pipe));
  ASSERT_EQ(0, in_pipe.status) << in_pipe.err;
  EXPECT_EQ(std::string::npos, in_pipe.err.find('\r')) << in_pipe.err;
  check_read_reports(in_pipe.err, {"p.img"});
  std::vector<std::string> piped = split_lines(without_times(in_pipe.out + in_pipe.err)),
                           shown = split_lines(without_times(left));
  std::sort(piped.begin(), piped.end());
  std::sort(shown.begin(), shown.end());
  EXPECT_EQ(piped, shown);
}

// A loop device with 4096-byte sectors holding a small ext4 file system.
class loop_volume : public testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) SKIP_OR_FAIL("loop devices need root");
    std::string dir = scratch_dir();
    image = dir + "/loop.img";
    mount_point = dir + "/mnt";
    make_file(image, 2 << 20);
    bool ok = false;
    device = shell("losetup --find --show --sector-size 4096 --direct-io=on " + image, &ok);
    device.erase(device.find_last_not_of("\n") + 1);
    if (!ok || device.empty()) SKIP_OR_FAIL("losetup refused here: no loop device to test on");
    shell("mkfs.ext4 -q -F -b 4096 " + device + " 2>&1 && mkdir -p " + mount_point + " && mount " + device +
              " " + mount_point,
          &ok);
    mounted = ok;
    if (!ok) SKIP_OR_FAIL("mkfs.ext4 or mount refused here: no file system to test on");
    struct statvfs vfs;
    ASSERT_EQ(0, statvfs(mount_point.c_str(), &vfs));
    mount_blocks = (long long)(vfs.f_blocks * vfs.f_frsize / 4096);
  }
  void TearDown() override {
    bool ok = false;
    if (mounted) shell("umount " + mount_point, &ok);
    if (!device.empty()) shell("losetup -d " + device, &ok);
  }
  std::string image, device, mount_point;
  bool mounted = false;
  long long mount_blocks = 0;
};

TEST_F(loop_volume, reads_the_device_by_its_mount_point_and_its_node) {
  program_run run;
  std::vector<std::string> opens = traced_opens({mount_point, device}, &run);
  EXPECT_EQ(0, run.status) << run.err;
  check_never_opened_for_writing(opens, device);
  check_read_reports(run.err, {mount_point, device});  // block n_blocks itself lies past the device's end
  std::vector<std::string> lines = split_lines(run.out);
  check_banner(lines);
  size_t second = 2;
  while (second < lines.size() && lines[second].find("drive " + device) != 0) ++second;
  std::vector<std::string> first(lines.begin(), lines.begin() + (long)second);
  check_drive_output(first, 2, mount_point, 4096, mount_blocks, reports_bad_reads(run.err));
  check_drive_output(lines, second, device, 4096, 512, reports_bad_reads(run.err));
}

TEST_F(loop_volume, shows_the_geometry_to_a_user_who_cannot_open_it) {
  program_run run = run_blockmeter_under(as_nobody, {device});
  EXPECT_EQ(255, run.status);
  std::vector<std::string> lines = split_lines(run.out);
  ASSERT_EQ(4u, lines.size()) << run.out;
  EXPECT_EQ("drive " + device + " information: block_size=4096, n_blocks=512", lines[2]);
  EXPECT_EQ("can't open drive", lines[3]);
  EXPECT_EQ("blockmeter: cannot open " + device + ": Permission denied\n", run.err);
}

// The same volume under Wine, through a drive letter.
class loop_volume_windows : public loop_volume, public testing::WithParamInterface<const test_build *> {
 protected:
  void SetUp() override {
    SKIP_UNLESS_RUNNABLE(GetParam());
    loop_volume::SetUp();
  }
};

TEST_P(loop_volume_windows, reads_a_mapped_drive_letter_and_nothing_else) {
  // A letter with nothing behind it, and roots that are no drive root and so
  // would be measured on another volume than the one opened: turned away
  // before anything is read. This first run also makes the prefix.
  program_run run = run_blockmeter({"P:\\", "quux", "R"}, GetParam());
  EXPECT_EQ(255, run.status);
  EXPECT_EQ(2u, split_lines(run.out).size()) << "only the banner:\n" << run.out;
  std::vector<std::string> reasons = split_lines(run.err);
  ASSERT_EQ(3u, reasons.size()) << run.err;
  EXPECT_EQ(0u, reasons[0].find("blockmeter: cannot read the geometry of P:\\: ")) << reasons[0];
  EXPECT_EQ("blockmeter: cannot measure quux: not a drive root; name a drive as D: or D:\\", reasons[1]);
  EXPECT_EQ("blockmeter: cannot measure R: not a drive root; name a drive as D: or D:\\", reasons[2]);

  // The letter's folder gives the geometry; the letter with a second colon is
  // the raw device behind it. With or without its backslash, a drive root
  // names the same volume.
  std::string dosdevices = wine_prefix() + "/dosdevices";
  bool ok = false;
  shell("ln -sfn " + mount_point + " " + dosdevices + "/q: && ln -sfn " + device + " " + dosdevices + "/q::",
        &ok);
  ASSERT_TRUE(ok);
  run = run_blockmeter({"Q:", "Q:\\"}, GetParam());
  shell("rm -f " + dosdevices + "/q: " + dosdevices + "/q::", &ok);
  EXPECT_EQ(0, run.status) << run.err;
  check_read_reports(run.err, {"Q:", "Q:\\"});
  std::vector<std::string> lines = split_lines(run.out);
  check_banner(lines);
  size_t second = 3;
  while (second < lines.size() && !lines[second].starts_with("drive Q:\\ ")) ++second;
  ASSERT_LT(second, lines.size()) << run.out;
  unsigned block_size = 0;
  long long n_blocks = 0;
  ASSERT_EQ(2, sscanf(lines[2].c_str(), "drive Q: information: block_size=%u, n_blocks=%lld", &block_size,
                      &n_blocks))
      << lines[2];
  EXPECT_EQ(mount_blocks * 4096, (long long)block_size * n_blocks) << "the file system's size";
  std::vector<std::string> first(lines.begin(), lines.begin() + (long)second);
  check_drive_output(first, 2, "Q:", block_size, n_blocks, reports_bad_reads(run.err));
  check_drive_output(lines, second, "Q:\\", block_size, n_blocks, reports_bad_reads(run.err));
}

INSTANTIATE_ON_WINDOWS_BUILD(loop_volume_windows);

}  // namespace
