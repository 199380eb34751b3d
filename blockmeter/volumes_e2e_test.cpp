// The built blockmeter on the volumes people have besides a plain ext4 disk:
// btrfs on one device and on two, xfs, a partition, file systems with no
// block device, files with holes or unwritten extents, and a file that its
// file system does not read directly; which device each is read from, and
// where the page cache would answer the reads instead. Each volume is a loop
// device over a sparse image the test makes. Even the smallest btrfs or xfs
// holds so many blocks that reading it all takes long, so a directory root on
// them is read for a bounded time only: its geometry, its opening and its
// first rows.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "e2e_support.h"

namespace {

std::string scratch_dir() { return ::scratch_dir("volumes"); }

constexpr int partial_run_ms = 3000;
constexpr int device_line_ms = 1000;  // a run long enough to say which device it reads

const char no_device_advice[] =
    ", which has no block device; name a device node, or a file on a disk file system";

std::string info_line(const std::string &root, unsigned block_size, long long n_blocks) {
  return "drive " + root + " information: block_size=" + std::to_string(block_size) +
         ", n_blocks=" + std::to_string(n_blocks);
}

// One drive's lines: from its information line up to the next drive's.
std::vector<std::string> drive_lines(const std::vector<std::string> &lines, const std::string &info) {
  auto from = std::find(lines.begin(), lines.end(), info);
  auto to = from == lines.end() ? from : from + 1;
  while (to != lines.end() && to->rfind("drive ", 0) != 0) ++to;
  return std::vector<std::string>(from, to);
}

// The lines a drive measured in full prints: its information line, two
// headings of two lines and a header each, 20 sequential rows, and a random
// row per range from n_blocks halved while above 1.
size_t full_drive_lines(long long n_blocks) {
  size_t lines = 1 + 3 + 20 + 3;
  for (long long range = n_blocks; range > 1; range >>= 1) ++lines;
  return lines;
}

// The reads that a drive's rows count: their second column.
long long table_reads(const std::vector<std::string> &drive) {
  long long reads = 0;
  for (const std::string &line : drive) {
    long long first = 0, count = 0;
    int ms = 0;
    double speed = 0;
    if (sscanf(line.c_str(), "%lld %lld %d %lf", &first, &count, &ms, &speed) == 4) reads += count;
  }
  return reads;
}

// The kernel's count of reads completed by a block device; -1 when unknown.
long long device_reads(const std::string &node) {
  std::string name = node.substr(node.rfind('/') + 1);
  std::ifstream stat("/sys/class/block/" + name + "/stat");
  long long reads = -1;
  stat >> reads;
  return reads;
}

// Loop devices, mounts and folders made by one test, undone in reverse order
// when it ends, however it ends.
class volumes : public testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) SKIP_OR_FAIL("loop devices and mounts need root");
    dir = scratch_dir();
  }
  void TearDown() override {
    bool ok = false;
    for (auto step = undo.rbegin(); step != undo.rend(); ++step) shell(*step, &ok);
  }

  // A loop device over a fresh sparse image; empty when refused. Without
  // direct I/O, as losetup attaches by default: its reads are then the page
  // cache's, which keeps them quick, and blockmeter warns of it.
  std::string attach(const std::string &name, int mib, int sector_size) {
    std::string image = dir + "/" + name + ".img";
    bool ok = false;
    shell("rm -f " + image + " && truncate -s " + std::to_string(mib) + "M " + image, &ok);
    std::string device =
        ok ? shell("losetup --find --show --sector-size " + std::to_string(sector_size) + " " + image, &ok)
           : "";
    device.erase(device.find_last_not_of('\n') + 1);
    if (!ok || device.empty()) return "";
    undo.push_back("losetup -d " + device);
    return device;
  }

  // Mounts what at dir/name with mount's options; returns the mount point,
  // or an empty string when refused.
  std::string mount(const std::string &what, const std::string &name, const std::string &options) {
    std::string point = dir + "/" + name;
    bool ok = false;
    shell("mkdir -p " + point + " && (umount " + point + " 2>/dev/null; mount " + options + " " + what + " " +
              point + ")",
          &ok);
    if (!ok) return "";
    undo.push_back("umount " + point);
    return point;
  }

  // A file system made by the command mkfs on a fresh loop device and mounted
  // at dir/name; sets device and point, or returns false when refused.
  bool make_volume(const std::string &name, int mib, int sector_size, const std::string &mkfs,
                   const std::string &options = "") {
    device = attach(name, mib, sector_size);
    bool ok = false;
    if (!device.empty()) shell(mkfs + " " + device, &ok);
    point = ok ? mount(device, name, options) : "";
    return !point.empty();
  }

  // A file of 64 KiB on the volume; returns its path.
  std::string volume_file() {
    std::string file = point + "/file.img";
    make_file(file, 64 * 1024);
    return file;
  }

  // Runs blockmeter on file in full, then on the mount point for a bounded
  // time: checks each one's geometry, that the device was opened and read
  // for the directory, and that the reads the rows count reached the device,
  // not the page cache.
  void check_file_then_directory(const std::string &file, const std::string &file_info, long long file_blocks,
                                 const std::string &dir_info) {
    long long before = device_reads(device);
    program_run run = run_blockmeter({file, point}, native_build(), partial_run_ms);
    long long reads = device_reads(device) - before;
    std::vector<std::string> lines = split_lines(run.out);
    std::vector<std::string> in_file = drive_lines(lines, file_info), in_dir = drive_lines(lines, dir_info);
    EXPECT_EQ(full_drive_lines(file_blocks), in_file.size()) << run.out << run.err;
    ASSERT_GE(in_dir.size(), 5u) << "the directory's device was not opened and read:\n" << run.out << run.err;
    check_read_reports(run.err, {file, point});
    long long shown = table_reads(in_file) + table_reads(in_dir);
    EXPECT_GE(reads, shown / 2) << "reads the device completed, for " << shown
                                << " reads in the rows shown: the rest came from the page cache";
  }

  std::string dir, device, point;
  std::vector<std::string> undo;
};

// btrfs gives each subvolume a device number of its own that leads to no
// block device and matches no line of mountinfo; the device is the mount's.
// It gives no alignment for direct reads of a file and serves those not
// aligned to its 4096-byte sector from the page cache, so a file there is
// read in 4096-byte blocks, past the cache, even on a 512-byte-sector device.
TEST_F(volumes, btrfs_on_one_device_by_its_mount_point_and_a_file_in_a_subvolume) {
  if (!make_volume("btrfs", 16, 512, "mkfs.btrfs -q -f --mixed --sectorsize 4096"))
    SKIP_OR_FAIL("losetup, mkfs.btrfs or mount refused here (Debian package: btrfs-progs)");
  bool ok = false;
  shell("btrfs -q subvolume create " + point + "/sub", &ok);
  ASSERT_TRUE(ok);
  std::string file = point + "/sub/file.img";
  make_file(file, 256 * 1024);
  check_file_then_directory(file, info_line(file, 4096, 64), 64,
                            info_line(point, 512, 16 * 1024 * 1024 / 512));
}

// A btrfs over two devices cannot be measured as one; a file on it can.
TEST_F(volumes, btrfs_on_two_devices_names_them) {
  std::string first = attach("btrfs1", 16, 512), second = attach("btrfs2", 16, 512);
  if (first.empty() || second.empty()) SKIP_OR_FAIL("losetup refused here: no loop devices to test on");
  bool ok = false;
  shell("mkfs.btrfs -q -f --mixed -d single -m single " + first + " " + second, &ok);
  std::string point = ok ? mount(first, "btrfs2", "") : "";
  if (point.empty()) SKIP_OR_FAIL("mkfs.btrfs or mount refused here (Debian package: btrfs-progs)");
  std::string file = point + "/file.img";
  make_file(file, 64 * 1024);
  program_run run = run_blockmeter({point, file});
  EXPECT_EQ(255, run.status);
  std::vector<std::string> err = split_lines(run.err);
  ASSERT_GE(err.size(), 2u) << run.err;
  EXPECT_EQ("blockmeter: cannot read the geometry of " + point + ": its btrfs file system spans 2 devices (" +
                first + ", " + second + "); name one of them instead",
            err[0]);
  EXPECT_EQ(0u, err[1].find("blockmeter: " + file + ": reading " + first + ", 16 MiB, ")) << err[1];
  EXPECT_NE(std::string::npos, err[1].find("; " + second + ", 16 MiB, ")) << err[1];
  EXPECT_EQ(full_drive_lines(16), drive_lines(split_lines(run.out), info_line(file, 4096, 16)).size())
      << run.out;
}

// xfs gives the alignment of direct reads of a file: the device's sector.
TEST_F(volumes, xfs_by_its_mount_point_and_a_file) {
  // 300 MiB: the smallest xfs that mkfs.xfs makes.
  if (!make_volume("xfs", 300, 512, "mkfs.xfs -q -f"))
    SKIP_OR_FAIL("losetup, mkfs.xfs or mount refused here (Debian package: xfsprogs)");
  std::string file = volume_file();
  struct statvfs vfs;
  ASSERT_EQ(0, statvfs(point.c_str(), &vfs));
  check_file_then_directory(file, info_line(file, 512, 128), 128,
                            info_line(point, 512, (long long)(vfs.f_blocks * vfs.f_frsize / 512)));
}

// A partition's sysfs folder has no queue of its own; the reads go to the
// partition's node.
TEST_F(volumes, a_partition_of_a_loop_device) {
  std::string disk = attach("disk", 4, 4096);
  if (disk.empty()) SKIP_OR_FAIL("losetup refused here: no loop device to test on");
  bool ok = false;
  // In 4096-byte sectors: from 1 MiB, 2 MiB long.
  shell("echo 'start=256, size=512, type=83' | sfdisk -q " + disk + " 2>&1; [ -b " + disk +
            "p1 ] || partx -a " + disk,
        &ok);
  std::string partition = disk + "p1";
  if (access(partition.c_str(), F_OK) != 0)
    SKIP_OR_FAIL("no partition node appeared (Debian package: fdisk)");
  // A partition added by partx outlives the loop device unless taken away.
  undo.push_back("partx -d " + disk + " 2>/dev/null; true");
  shell("mkfs.ext4 -q -F -b 4096 " + partition, &ok);
  std::string point = ok ? mount(partition, "partition", "") : "";
  if (point.empty()) SKIP_OR_FAIL("mkfs.ext4 or mount refused here");
  struct statvfs vfs;
  ASSERT_EQ(0, statvfs(point.c_str(), &vfs));
  long long n_blocks = (long long)(vfs.f_blocks * vfs.f_frsize / 4096);
  // A file beside, whose name has control characters.
  std::string file = point + "/a\nb\x1b.img", shown_file = point + "/a\\nb\\x1b.img";
  make_file(file, 64 * 1024);
  long long before = device_reads(partition);
  program_run run = run_blockmeter({point, file});
  long long reads = device_reads(partition) - before;
  EXPECT_EQ(0, run.status) << run.err;
  check_read_reports(run.err, {point, shown_file});
  std::vector<std::string> drive = drive_lines(split_lines(run.out), info_line(point, 4096, n_blocks));
  EXPECT_EQ(full_drive_lines(n_blocks), drive.size()) << run.out;
  EXPECT_GE(reads, table_reads(drive) / 2) << "reads the partition completed";
  EXPECT_EQ(full_drive_lines(16), drive_lines(split_lines(run.out), info_line(shown_file, 4096, 16)).size())
      << "the file's information line, its control characters escaped:\n"
      << run.out;

  // The device each root reads, said once for each: for a directory or file,
  // the one under it. The whole disk is read only as long as it takes to say
  // that, which comes before its tables.
  program_run disk_run = run_blockmeter({disk}, native_build(), device_line_ms);
  std::vector<std::string> lines;
  for (const std::string &line : split_lines(run.err + disk_run.err))
    if (line.find(": reading ") != std::string::npos) lines.push_back(line);
  std::string partition_of = partition + " (partition of " + disk + "), 2 MiB, logical sector 4096 B, ";
  const struct {
    std::string shown, device;
  } cases[] = {
      {point, partition_of}, {shown_file, partition_of}, {disk, disk + ", 4 MiB, logical sector 4096 B, "}};
  ASSERT_EQ(3u, lines.size()) << run.err << disk_run.err;
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(0u, lines[i].find("blockmeter: " + cases[i].shown + ": reading " + cases[i].device +
                                "physical sector 4096 B, "))
        << lines[i];
    EXPECT_TRUE(lines[i].ends_with(", loop device backed by " +
                                   std::filesystem::canonical(dir + "/disk.img").string() +
                                   ", direct I/O off"))
        << lines[i];
  }

  // A user without the rights to the node sees the geometry, and which node.
  run = run_blockmeter_under(as_nobody, {point});
  EXPECT_EQ(255, run.status);
  EXPECT_EQ(info_line(point, 4096, n_blocks), split_lines(run.out).at(2));
  EXPECT_EQ("blockmeter: cannot open " + point + " (device " + partition + "): Permission denied\n", run.err);
}

// Reads that the page cache answers are not the device's: those of a file's
// compressed extents, and those of a loop device without direct I/O, which go
// through its backing file's cache. Each is warned of before the tables; the
// device under both counts how few of their reads reach it.
TEST_F(volumes, warns_of_reads_the_page_cache_answers) {
  if (!make_volume("zstd", 16, 512, "mkfs.btrfs -q -f --mixed", "-o compress=zstd"))
    SKIP_OR_FAIL(
        "losetup, mkfs.btrfs or a compressed btrfs mount refused here (Debian package: btrfs-progs)");
  std::string compressed = point + "/compressed.img", image = point + "/loop.img";
  std::ofstream(compressed, std::ios::binary) << std::string(256 * 1024, 'x');
  make_file(image, 1 << 20);  // too random to be compressed
  bool ok = false;
  std::string loop = shell("losetup --find --show --sector-size 4096 " + image, &ok);
  loop.erase(loop.find_last_not_of('\n') + 1);
  ASSERT_TRUE(ok && !loop.empty());
  undo.push_back("losetup -d " + loop);
  long long before = device_reads(device);
  program_run run = run_blockmeter({compressed, loop});
  long long reads = device_reads(device) - before;
  EXPECT_EQ(0, run.status) << run.err;
  // The volume's own loop device has no direct I/O either, and is warned of too.
  EXPECT_NE(std::string::npos,
            run.err.find("\nblockmeter: warning: 100.0% of " + compressed +
                         " (262144 of 262144 bytes) is in compressed extents, which its file "
                         "system reads through the page cache"))
      << run.err;
  EXPECT_NE(std::string::npos,
            run.err.find(
                "\nblockmeter: warning: " + loop +
                " is a loop device without direct I/O: its reads go through the page cache of its backing "
                "file " +
                std::filesystem::canonical(image).string() +
                ", so the speeds shown are the cache's, not the disk's; attach it with direct I/O: losetup "
                "--direct-io=on " +
                loop + "\n"))
      << run.err;
  long long shown = table_reads(split_lines(run.out));
  EXPECT_LT(reads, shown / 10) << "reads the device under both completed, for " << shown << " in the rows";
}

// A btrfs mounted through a node that by now names another device, or is
// gone, is refused, with the device to name instead.
TEST_F(volumes, a_mount_source_that_no_longer_names_its_device) {
  std::string first = attach("moved", 16, 512), other = attach("other", 16, 512), node = dir + "/node";
  bool ok = false;
  if (!first.empty())
    shell("mkfs.btrfs -q -f --mixed " + first + " && rm -f " + node + " && cp -a " + first + " " + node, &ok);
  std::string point = ok ? mount(node, "moved", "") : "";
  if (other.empty() || point.empty())
    SKIP_OR_FAIL("losetup, mkfs.btrfs or mount refused here (Debian package: btrfs-progs)");
  std::string source = std::filesystem::canonical(node).string();
  const struct {
    std::string change, now;
  } cases[] = {
      {"rm " + node + " && cp -a " + other + " " + node, "now names " + other + ", not a device of it"},
      {"rm " + node, "is gone"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.change);
    shell(c.change, &ok);
    ASSERT_TRUE(ok);
    program_run run = run_blockmeter({point});
    EXPECT_EQ(255, run.status);
    EXPECT_EQ("blockmeter: cannot read the geometry of " + point +
                  ": its btrfs file system was mounted from " + source + ", which " + c.now +
                  "; name its device " + first + " instead\n",
              run.err);
  }
}

// Where no block device lies under a root, the reason names the file system.
TEST_F(volumes, file_systems_without_a_block_device) {
  std::string lower = dir + "/lower", upper = dir + "/upper", work = dir + "/work";
  bool ok = false;
  shell("rm -rf " + upper + " " + work + " && mkdir -p " + lower + " " + upper + " " + work, &ok);
  std::string overlay = mount("overlay", "overlay",
                              "-t overlay -o lowerdir=" + lower + ",upperdir=" + upper + ",workdir=" + work);
  std::string tmpfs = mount("none", "tmpfs", "-t tmpfs -o size=1m");
  if (overlay.empty() || tmpfs.empty()) SKIP_OR_FAIL("cannot mount an overlay or a tmpfs here");
  make_file(tmpfs + "/file.img", 64 * 1024);
  program_run run = run_blockmeter({overlay, tmpfs + "/file.img", "/proc"});
  EXPECT_EQ(255, run.status);
  EXPECT_EQ(2u, split_lines(run.out).size()) << "only the banner:\n" << run.out;
  EXPECT_EQ("blockmeter: cannot read the geometry of " + overlay + ": it is on an overlay file system" +
                no_device_advice + "\nblockmeter: cannot read the geometry of " + tmpfs +
                "/file.img: it is on a tmpfs file system" + no_device_advice +
                "\nblockmeter: cannot read the geometry of /proc: it is on a proc file system" +
                no_device_advice + "\n",
            run.err);
}

// With data=journal, ext4 serves a file's direct reads from the page cache.
TEST_F(volumes, a_file_its_file_system_does_not_read_directly) {
  // 8 MiB: room for a journal.
  if (!make_volume("journal", 8, 4096, "mkfs.ext4 -q -F -b 4096", "-o data=journal"))
    SKIP_OR_FAIL("losetup, mkfs.ext4 or a data=journal mount refused here");
  std::string file = volume_file();
  struct statx stx;
  if (statx(AT_FDCWD, file.c_str(), 0, STATX_DIOALIGN, &stx) != 0 || (stx.stx_mask & STATX_DIOALIGN) == 0)
    SKIP_OR_FAIL("this kernel does not say whether a file is read directly");
  program_run run = run_blockmeter({file});
  EXPECT_EQ(255, run.status);
  EXPECT_EQ(2u, split_lines(run.out).size()) << "only the banner:\n" << run.out;
  EXPECT_EQ(
      "blockmeter: cannot read the geometry of " + file +
          ": its ext4 file system does not read this file directly (the kernel gives no alignment for direct "
          "reads of it), so the reads would come from the page cache; name its device instead: " +
          device + "\n",
      run.err);
}

// Reads of holes and unwritten extents never reach the device: the share of
// such bytes is told; data written over unwritten extents but not yet
// written back counts as data, as the direct reads will find it.
TEST(volume_files, warns_of_holes_and_unwritten_extents) {
  std::string dir = scratch_dir();
  std::string sparse = dir + "/sparse.img", reserved = dir + "/reserved.img", filled = dir + "/filled.img";
  make_file(sparse, 16 * 1024);
  ASSERT_EQ(0, truncate(sparse.c_str(), 64 * 1024));
  for (const std::string &path : {reserved, filled}) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path;
    if (fallocate(fd, 0, 0, 64 * 1024) != 0) {
      close(fd);
      SKIP_OR_FAIL("the scratch folder's file system does not reserve space (fallocate)");
    }
    close(fd);
  }
  std::string data(64 * 1024, 'x');
  std::ofstream(filled, std::ios::binary | std::ios::in | std::ios::out)
      .write(data.data(), (long)data.size());
  program_run run = run_blockmeter({sparse, reserved, filled});
  EXPECT_EQ(0, run.status) << run.err;
  std::string warnings;
  read_time_line times;
  for (const std::string &line : split_lines(run.err))
    if (line.find(": reading /dev/") == std::string::npos && !parse_read_time_line(line, &times))
      warnings += line + "\n";
  const char *const rest =
      " is holes or unwritten extents, which are not on the device: reads there never reach it, so the "
      "speeds "
      "shown are too high; write the file with real data first\n";
  EXPECT_EQ("blockmeter: warning: 75.0% of " + sparse + " (49152 of 65536 bytes)" + rest +
                "blockmeter: warning: 100.0% of " + reserved + " (65536 of 65536 bytes)" + rest,
            warnings);
}

}  // namespace
