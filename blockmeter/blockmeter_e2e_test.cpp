// The built blockmeter on real volumes: a regular file, a loop device with an
// ext4 file system (by its mount point and by its node), roots that cannot be
// read, and the Windows build under Wine on a drive letter mapped to the loop
// device. Volumes are kept small so that a whole run takes seconds.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "run_program.h"

namespace {

constexpr int run_timeout_ms = 120000;

// The sanitizers' leak check cannot work in a traced process.
const char leak_check_off[] = "ASAN_OPTIONS=detect_leaks=0";

std::string scratch_dir() {
  std::string dir = bin_dir() + "/../scratch/blockmeter";
  if (system(("mkdir -p " + dir).c_str()) != 0) ADD_FAILURE() << "cannot make " << dir;
  return dir;
}

// Runs a shell command; returns its output, or sets *ok false.
std::string shell(const std::string &command, bool *ok) {
  program_options options;
  options.timeout_ms = 60000;
  program_run run;
  *ok = run_program({"/bin/sh", "-c", command}, &options, &run) && run.status == 0;
  if (!*ok) fprintf(stderr, "`%s` failed: %s%s\n", command.c_str(), run.err.c_str(), run.error.c_str());
  return run.out;
}

void make_file(const std::string &path, size_t bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  uint32_t state = 12345;
  for (size_t i = 0; i < bytes; ++i) file.put((char)((state = state * 1103515245u + 12345u) >> 24));
}

program_run run_blockmeter(const std::vector<std::string> &args) {
  std::vector<std::string> argv = {bin_dir() + "/blockmeter"};
  argv.insert(argv.end(), args.begin(), args.end());
  program_options options;
  options.timeout_ms = run_timeout_ms;
  program_run run;
  EXPECT_TRUE(run_program(argv, &options, &run)) << run.error;
  EXPECT_FALSE(run.timed_out) << "blockmeter did not end within " << run_timeout_ms / 1000 << " s";
  return run;
}

std::vector<std::string> split_lines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();  // Windows console text
    lines.push_back(line);
  }
  return lines;
}

// Checks one drive's output, from its information line on, against the rules
// of the two tables: read sizes, reads capped by n_blocks, reps and reads
// adapted to each row's time, ranges halved, and speeds that match the rows.
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
  long long reps = 1000;
  size_t line = at + 4;
  for (int step = 0; step < 20; ++step, ++line) {
    ASSERT_LT(line, lines.size());
    int nblocks = 0, reads = 0, ms = 0;
    double speed = 0;
    ASSERT_EQ(4, sscanf(lines[line].c_str(), "%d %d %d %lf", &nblocks, &reads, &ms, &speed)) << lines[line];
    EXPECT_EQ(60u, lines[line].size()) << lines[line];
    EXPECT_EQ(sizes[step], nblocks);
    long long expected_reads = reps * nblocks > n_blocks ? n_blocks / nblocks : reps;
    EXPECT_EQ(expected_reads, reads) << "step " << step;
    EXPECT_GE(ms, 1);
    double full = (double)reads * nblocks * block_size / (ms / 1000.0) / 1048576;
    if (reads_may_fail)
      EXPECT_LE(speed, full + 1e-3) << lines[line];
    else
      EXPECT_NEAR(full, speed, 1e-3 + full * 1e-6) << lines[line];
    reps = ms > 10000 ? reps >> 1 : ms < 500 ? reps << 1 : reps;
  }
  ASSERT_LT(line + 2, lines.size());
  EXPECT_EQ("Random read test", lines[line]);
  EXPECT_EQ(std::string(27, '-'), lines[line + 1]);
  EXPECT_EQ("   Random range         N reps        Time,ms     Speed,MB/s", lines[line + 2]);
  line += 3;
  long long reads_per_pass = 100;
  for (long long range = n_blocks; range > 1; range >>= 1, ++line) {
    ASSERT_LT(line, lines.size()) << "no row for range " << range;
    long long shown_range = 0;
    int reads = 0, ms = 0;
    double speed = 0;
    ASSERT_EQ(4, sscanf(lines[line].c_str(), "%lld %d %d %lf", &shown_range, &reads, &ms, &speed))
        << lines[line];
    EXPECT_EQ(range, shown_range);
    EXPECT_EQ(reads_per_pass, reads);
    EXPECT_GE(ms, 1);
    double full = (double)reads * block_size / (ms / 1000.0) / 1048576;
    if (reads_may_fail)
      EXPECT_LE(speed, full + 1e-3) << lines[line];
    else
      EXPECT_NEAR(full, speed, 1e-3 + full * 1e-6) << lines[line];
    if (ms < 4000) reads_per_pass <<= 1;
  }
  EXPECT_EQ(line, lines.size()) << "lines after the random table";
}

void check_banner(const std::vector<std::string> &lines) {
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(0u, lines[0].find("blockmeter 1.0.0 - ")) << lines[0];
}

// The unit of direct reads of a file, found independently of blockmeter:
// what the kernel says for the file, else its device's logical sector size.
uint32_t file_block_size(const std::string &path) {
  struct statx stx;
  if (statx(AT_FDCWD, path.c_str(), 0, STATX_DIOALIGN, &stx) == 0 && (stx.stx_mask & STATX_DIOALIGN) &&
      stx.stx_dio_offset_align > 0)
    return stx.stx_dio_offset_align;
  char sysfs[128];
  snprintf(sysfs, sizeof sysfs, "/sys/dev/block/%u:%u/queue/logical_block_size", stx.stx_dev_major,
           stx.stx_dev_minor);
  unsigned size = 0;
  FILE *file = fopen(sysfs, "r");
  if (file == nullptr) {
    snprintf(sysfs, sizeof sysfs, "/sys/dev/block/%u:%u/../queue/logical_block_size", stx.stx_dev_major,
             stx.stx_dev_minor);
    file = fopen(sysfs, "r");
  }
  if (file != nullptr && fscanf(file, "%u", &size) != 1) size = 0;
  if (file != nullptr) fclose(file);
  return size;
}

// Every line on standard error must be a report of failed or short reads.
void check_read_reports(const std::string &err) {
  for (const std::string &line : split_lines(err)) {
    int bad = 0, reads = 0, end = 0;
    EXPECT_EQ(2, sscanf(line.c_str(), "blockmeter: %d of %d reads failed or came back short; first: %n", &bad,
                        &reads, &end))
        << line;
    EXPECT_TRUE(bad >= 1 && bad <= reads && end > 0 && (size_t)end < line.size()) << line;
  }
}

// The opens of a traced run of blockmeter; fails the test if none was seen.
std::vector<std::string> traced_opens(const std::vector<std::string> &args, program_run *run) {
  std::string trace = scratch_dir() + "/opens.trace";
  std::vector<std::string> argv = {"/usr/bin/env",
                                   leak_check_off,
                                   "/usr/bin/strace",
                                   "-f",
                                   "-qq",
                                   "-e",
                                   "trace=open,openat,openat2",
                                   "-o",
                                   trace,
                                   bin_dir() + "/blockmeter"};
  argv.insert(argv.end(), args.begin(), args.end());
  program_options options;
  options.timeout_ms = run_timeout_ms;
  EXPECT_TRUE(run_program(argv, &options, run)) << run->error;
  std::ifstream file(trace);
  std::vector<std::string> opens;
  for (std::string line; std::getline(file, line);) opens.push_back(line);
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
  uint32_t block_size = file_block_size(path);
  ASSERT_GE(block_size, 512u);
  program_run run = run_blockmeter({path});
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ("", run.err);
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

TEST(blockmeter_e2e, help_version_and_option_like_roots) {
  program_run run = run_blockmeter({"--help"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(0u, run.out.find("Usage: blockmeter [ROOT...]\n")) << run.out;
  EXPECT_NE(std::string::npos, run.out.find("A root is a path")) << run.out;
  run = run_blockmeter({"--version"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("blockmeter 1.0.0\n", run.out);
  run = run_blockmeter({"--nonsense"});
  EXPECT_EQ(255, run.status);
  EXPECT_EQ("blockmeter: cannot read the geometry of --nonsense: No such file or directory\n", run.err);
}

TEST(blockmeter_e2e, never_opens_anything_for_writing) {
  if (access("/usr/bin/strace", X_OK) != 0) SKIP_OR_FAIL("strace not found (Debian package: strace)");
  std::string path = scratch_dir() + "/traced.img";
  make_file(path, 64 * 1024);
  program_run run;
  std::vector<std::string> opens = traced_opens({path}, &run);
  EXPECT_EQ(0, run.status) << run.err;
  check_never_opened_for_writing(opens, path);
}

// Between the two tick readings of a row lie only the reads: one read call per
// sequential read, one positioning and one read per random read, nothing else.
TEST(blockmeter_e2e, reads_cost_one_system_call_each) {
  if (access("/usr/bin/strace", X_OK) != 0) SKIP_OR_FAIL("strace not found (Debian package: strace)");
  std::string path = scratch_dir() + "/counted.img";
  make_file(path, 64 * 1024);
  std::string trace = scratch_dir() + "/calls.trace";
  program_options options;
  options.timeout_ms = run_timeout_ms;
  program_run run;
  ASSERT_TRUE(run_program({"/usr/bin/env", leak_check_off, "/usr/bin/strace", "-qq", "-s", "100", "-e",
                           "signal=none", "-o", trace, bin_dir() + "/blockmeter", path},
                          &options, &run))
      << run.error;
  ASSERT_EQ(0, run.status) << run.err;

  // Each row is printed with one write to standard output; the calls on the
  // volume since the write before it are that row's reads and positionings.
  std::ifstream file(trace);
  std::string volume_fd;
  int rows = 0, reads = 0, seeks = 0, between = 0, pending = 0;
  bool random = false;
  for (std::string line; std::getline(file, line);) {
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
  std::string trace = scratch_dir() + "/priority.trace";
  // Stopped only at the traced calls, so the reads run at their own pace.
  std::vector<std::string> argv = {"/usr/bin/env",
                                   leak_check_off,
                                   "/usr/bin/strace",
                                   "-f",
                                   "--seccomp-bpf",
                                   "-qq",
                                   "-e",
                                   "trace=setpriority,ioprio_set,sched_setscheduler,sched_setattr,"
                                   "sched_setparam,%file",
                                   "-o",
                                   trace};
  argv.insert(argv.end(), as_user.begin(), as_user.end());
  argv.push_back(bin_dir() + "/blockmeter");
  argv.push_back(root);
  program_options options;
  options.timeout_ms = run_timeout_ms;
  EXPECT_TRUE(run_program(argv, &options, run)) << run->error;
  std::ifstream file(trace);
  std::vector<std::string> calls;
  for (std::string line; std::getline(file, line);) {
    bool priority = line.find("priority") != std::string::npos || line.find("ioprio") != std::string::npos ||
                    line.find("sched_") != std::string::npos;
    if (priority || line.find("\"" + root + "\"") != std::string::npos) calls.push_back(line);
  }
  return calls;
}

// The tables without their time and speed columns, which vary from run to run.
std::string without_times(const std::string &out) {
  std::string kept;
  for (const std::string &line : split_lines(out)) {
    long long first = 0, second = 0;
    int ms = 0;
    double speed = 0;
    if (sscanf(line.c_str(), "%lld %lld %d %lf", &first, &second, &ms, &speed) == 4)
      kept += std::to_string(first) + " " + std::to_string(second) + "\n";
    else
      kept += line + "\n";
  }
  return kept;
}

// Real-time CPU scheduling slows direct reads; the priority asked for is the
// highest among ordinary tasks and the real-time I/O class, asked once before
// the volume is looked at. Refused, as to a user without the rights, it
// changes nothing the program prints or returns.
TEST(blockmeter_e2e, raises_priority_without_real_time_scheduling) {
  if (access("/usr/bin/strace", X_OK) != 0) SKIP_OR_FAIL("strace not found (Debian package: strace)");
  if (geteuid() != 0) SKIP_OR_FAIL("running as another user needs root");
  // So small that no row comes near the times at which reads adapt.
  std::string path = scratch_dir() + "/priority.img";
  make_file(path, 8 * 1024);
  program_run as_root, as_nobody;
  std::vector<std::string> calls = traced_priority({}, path, &as_root);
  ASSERT_EQ(0, as_root.status) << as_root.err;
  ASSERT_GE(calls.size(), 3u);
  EXPECT_NE(std::string::npos, calls[0].find("setpriority(PRIO_PROCESS, 0, -20) = 0")) << calls[0];
  EXPECT_NE(std::string::npos, calls[1].find("ioprio_set(IOPRIO_WHO_PROCESS, 0, "
                                             "IOPRIO_PRIO_VALUE(IOPRIO_CLASS_RT, 0)) = 0"))
      << calls[1];
  for (size_t i = 2; i < calls.size(); ++i)
    EXPECT_NE(std::string::npos, calls[i].find("\"" + path + "\"")) << "asked again or late: " << calls[i];

  calls = traced_priority({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"}, path,
                          &as_nobody);
  int refused = 0;
  for (const std::string &call : calls) {
    EXPECT_EQ(std::string::npos, call.find("sched_")) << call;
    if (call.find("priority(PRIO_PROCESS, 0, -20) = -1 EACCES") != std::string::npos ||
        call.find("IOPRIO_CLASS_RT, 0)) = -1 EPERM") != std::string::npos)
      ++refused;
  }
  EXPECT_EQ(2, refused) << "both requests refused";
  EXPECT_EQ(as_root.status, as_nobody.status);
  EXPECT_EQ(as_root.err, as_nobody.err);
  EXPECT_EQ(without_times(as_root.out), without_times(as_nobody.out));
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
  check_read_reports(run.err);  // block n_blocks itself lies past the device's end
  std::vector<std::string> lines = split_lines(run.out);
  check_banner(lines);
  size_t second = 2;
  while (second < lines.size() && lines[second].find("drive " + device) != 0) ++second;
  std::vector<std::string> first(lines.begin(), lines.begin() + (long)second);
  check_drive_output(first, 2, mount_point, 4096, mount_blocks, !run.err.empty());
  check_drive_output(lines, second, device, 4096, 512, !run.err.empty());
}

TEST_F(loop_volume, shows_the_geometry_to_a_user_who_cannot_open_it) {
  program_options options;
  program_run run;
  ASSERT_TRUE(run_program({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                           bin_dir() + "/blockmeter", device},
                          &options, &run))
      << run.error;
  EXPECT_EQ(255, run.status);
  std::vector<std::string> lines = split_lines(run.out);
  ASSERT_EQ(4u, lines.size()) << run.out;
  EXPECT_EQ("drive " + device + " information: block_size=4096, n_blocks=512", lines[2]);
  EXPECT_EQ("can't open drive", lines[3]);
  EXPECT_EQ("blockmeter: cannot open " + device + ": Permission denied\n", run.err);
}

TEST_F(loop_volume, windows_build_reads_a_mapped_drive_letter) {
  std::string missing = wine_missing();
  if (!missing.empty()) SKIP_OR_FAIL(missing);
  std::string exe = win64_bin_dir() + "/blockmeter.exe";
  program_options options;
  options.timeout_ms = run_timeout_ms;
  program_run run;
  // A letter with nothing behind it; this first run also makes the prefix.
  std::vector<std::string> argv = wine_command(exe);
  argv.push_back("P:\\");
  ASSERT_TRUE(run_program(argv, &options, &run)) << run.error;
  EXPECT_EQ(255, run.status);
  EXPECT_EQ(0u, run.err.find("blockmeter: cannot read the geometry of P:\\: ")) << run.err;

  // The letter's folder gives the geometry; the letter with a second colon is
  // the raw device behind it.
  std::string dosdevices = wine_prefix() + "/dosdevices";
  bool ok = false;
  shell("ln -sfn " + mount_point + " " + dosdevices + "/q: && ln -sfn " + device + " " + dosdevices + "/q::",
        &ok);
  ASSERT_TRUE(ok);
  argv = wine_command(exe);
  argv.push_back("Q:\\");
  ASSERT_TRUE(run_program(argv, &options, &run)) << run.error;
  shell("rm -f " + dosdevices + "/q: " + dosdevices + "/q::", &ok);
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(0, run.status) << run.err;
  check_read_reports(run.err);
  std::vector<std::string> lines = split_lines(run.out);
  check_banner(lines);
  ASSERT_GE(lines.size(), 3u);
  unsigned block_size = 0;
  long long n_blocks = 0;
  ASSERT_EQ(2, sscanf(lines[2].c_str(), "drive Q:\\ information: block_size=%u, n_blocks=%lld", &block_size,
                      &n_blocks))
      << lines[2];
  EXPECT_EQ(mount_blocks * 4096, (long long)block_size * n_blocks) << "the file system's size";
  check_drive_output(lines, 2, "Q:\\", block_size, n_blocks, !run.err.empty());
}

}  // namespace
