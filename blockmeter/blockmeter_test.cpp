// The driver against the fake drive: what is printed, in which order, and
// the exit status.
#include <gtest/gtest.h>

#include <cstring>

#include "blockmeter.h"
#include "fakes.h"

namespace {

struct run_result {
  int status;
  std::string out, err;
};

run_result run_with(std::vector<std::string> args) {
  args.insert(args.begin(), "blockmeter");
  std::vector<char *> argv;
  for (std::string &arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  int status = run_blockmeter((int)args.size(), argv.data());
  std::string err = testing::internal::GetCapturedStderr();
  return {status, testing::internal::GetCapturedStdout(), err};
}

size_t count_lines(const std::string &text) { return (size_t)std::count(text.begin(), text.end(), '\n'); }

const std::vector<int> all_sizes = {1,   11,  21,  32,  42,  53,  63,  74,  84,  95,
                                    105, 116, 126, 137, 147, 158, 168, 179, 189, 200};

// The read-time lines of root's rows whose reads all took us microseconds:
// the sequential rows of the sizes given, then the random rows from range
// down to 2 or 3.
std::string steady_times(const std::string &root, const std::vector<int> &sizes, long long range,
                         const std::string &us) {
  std::string values = "first " + us + ", min " + us;
  for (const char *p : {"p10", "p25", "p50", "p75", "p90", "p99", "p99.9"})
    values += std::string(", ") + p + " " + us;
  values += ", max " + us + "\n";
  std::string lines;
  for (int size : sizes)
    lines +=
        "blockmeter: " + root + ": sequential " + std::to_string(size) + " blocks: read time us: " + values;
  for (; range > 1; range /= 2)
    lines += "blockmeter: " + root + ": random range " + std::to_string(range) + ": read time us: " + values;
  return lines;
}

class driver : public testing::Test {
 protected:
  void SetUp() override {
    reset_fakes();
    fake_hdd.drives = {{"SYSTEM", 512, 64, -1, false, false},
                       {"A", 4096, 1LL << 33, -1, false, false},
                       {"B", 512, 16, -1, false, false},
                       {"LOCKED", 512, 100, -1, false, true}};
  }
  void TearDown() override { EXPECT_TRUE(fake_hdd.misuse.empty()) << fake_hdd.misuse.front(); }
};

const char banner_end[] = "issue tracker.\n";

TEST_F(driver, tests_the_system_drive_when_none_is_named) {
  run_result r = run_with({});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(1, priority_raises);
  EXPECT_EQ(std::vector<std::string>({"info SYSTEM", "open SYSTEM", "close SYSTEM"}), fake_hdd.events);
  // Banner of two lines, then the drive's whole output.
  size_t start = r.out.find(banner_end);
  ASSERT_NE(std::string::npos, start);
  EXPECT_EQ(2u, count_lines(r.out.substr(0, start + sizeof banner_end - 1)));
  std::string drive = r.out.substr(start + sizeof banner_end - 1);
  const std::string expected_start =
      "drive SYSTEM information: block_size=512, n_blocks=64\n"
      "Multisector read test\n---------------------------\n"
      "       N Blocks         N Reps        Time,ms     Speed,MB/s\n"
      "              1             64              1      31.250000\n";
  EXPECT_EQ(expected_start, drive.substr(0, expected_start.size()));
  size_t random = drive.find(
      "\nRandom read test\n---------------------------\n"
      "   Random range         N reps        Time,ms     Speed,MB/s\n"
      "             64            100              1      48.828125\n");
  ASSERT_NE(std::string::npos, random) << drive;
  EXPECT_EQ(3u + 1 + 20, count_lines(drive.substr(0, random + 1)));
  EXPECT_EQ(3u + 6, count_lines(drive.substr(random + 1))) << "ranges 64 down to 2";
  // Rows of 74 blocks and more make no reads in 64 blocks, and have no times.
  EXPECT_EQ(
      "blockmeter: SYSTEM: reading SYSTEM\n" + steady_times("SYSTEM", {1, 11, 21, 32, 42, 53, 63}, 64, "0.0"),
      r.err);
}

TEST_F(driver, exit_status_is_the_system_drives_result) {
  fake_hdd.drives[0].geometry_fails = true;
  run_result r = run_with({});
  EXPECT_EQ(-1, r.status);
  EXPECT_EQ("blockmeter: cannot read the geometry of SYSTEM: fake error 5\n", r.err);
  EXPECT_EQ(std::string::npos, r.out.find("drive")) << "nothing printed for a drive without geometry";
}

TEST_F(driver, tests_every_drive_in_order_and_fails_if_any_did) {
  fake_hdd.ms_per_read = 50;  // slow passes keep 100 reads over A's 33 ranges
  run_result r = run_with({"B", "MISSING", "LOCKED", "A"});
  EXPECT_EQ(-1, r.status);
  EXPECT_EQ(std::vector<std::string>({"info B", "open B", "close B", "info MISSING", "info LOCKED",
                                      "open LOCKED", "info A", "open A", "close A"}),
            fake_hdd.events);
  size_t b = r.out.find("drive B information: block_size=512, n_blocks=16\n");
  size_t locked = r.out.find(
      "drive LOCKED information: block_size=512, n_blocks=100\ncan't open drive\n"
      "drive A information");
  size_t a = r.out.find("drive A information: block_size=4096, n_blocks=8589934592\n");
  EXPECT_TRUE(b < locked && locked < a && a != std::string::npos) << r.out;
  EXPECT_EQ(std::string::npos, r.out.find("MISSING"));
  EXPECT_EQ("blockmeter: B: reading B\n" + steady_times("B", {1, 11}, 16, "50000.0") +
                "blockmeter: cannot read the geometry of MISSING: fake error 5\n"
                "blockmeter: cannot open LOCKED: fake error 5\n"
                "blockmeter: A: reading A\n" +
                steady_times("A", all_sizes, 1LL << 33, "50000.0"),
            r.err);
  EXPECT_EQ(1, priority_raises);
}

TEST_F(driver, exit_status_is_0_when_every_drive_was_tested) {
  EXPECT_EQ(0, run_with({"B", "SYSTEM"}).status);
  reset_fakes();
  EXPECT_EQ(-1, run_with({"MISSING"}).status);
}

TEST_F(driver, failed_reads_are_reported_but_the_drive_counts_as_tested) {
  fake_hdd.drives[2].device_blocks = 0;  // every read comes back empty
  run_result r = run_with({"B"});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(1u + 2 * 2 + 4 * 2, count_lines(r.err))
      << "the device line, then two per row that made reads (its times, its failures): 2 sequential, 4 "
         "random:\n"
      << r.err;
  EXPECT_NE(std::string::npos, r.out.find("              1             16              1       0.000000\n"));
}

// Measured in full or failed: a drive counts as measured only when both tests
// ran, every buffer was allocated and no read failed; its tables keep their
// form either way.
TEST_F(driver, a_drive_not_measured_in_full_fails) {
  const std::string first_rows = steady_times("B", {1, 11}, 0, "0.0"),
                    random_16 =
                        "blockmeter: B: random range 16: read time us: first 0.0, min 0.0, p10 0.0, p25 0.0, "
                        "p50 0.0, p75 0.0, p90 0.0, p99 0.0, p99.9 0.0, max 0.0\n";
  struct {
    const char *what;
    int fail_alloc_at, fail_read_at, fail_position_at;
    std::string err_start;
  } cases[] = {
      {"sequential buffer", 1, 0, 0,
       "blockmeter: B: sequential test: cannot allocate 102400 bytes: fake error 5\n"},
      {"random buffer", 3, 0, 0,
       first_rows + random_16 + "blockmeter: B: random range 8: cannot allocate 512 bytes: fake error 5\n"},
      {"a read", 0, 10, 0,
       steady_times("B", {1}, 0, "0.0") +
           "blockmeter: B: sequential 1 blocks: 1 of 16 reads failed or came back short; first: "},
      {"a positioning", 0, 0, 21 + 50,
       first_rows + random_16 + "blockmeter: B: random range 16: 1 of 100 reads failed or came back short; "},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    fake_hdd.fail_alloc_at = c.fail_alloc_at;
    fake_hdd.fail_read_at = c.fail_read_at;
    fake_hdd.fail_position_at = c.fail_position_at;
    run_result r = run_with({"B", "SYSTEM"});
    EXPECT_EQ(-1, r.status);
    EXPECT_EQ(0u, r.err.find("blockmeter: B: reading B\n" + c.err_start)) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("Random read test\n---------------------------\n   Random range"))
        << r.out;
    EXPECT_EQ("close SYSTEM", fake_hdd.events.back()) << "the next drive is still measured";
  }
}

TEST_F(driver, nothing_to_measure_on_a_volume_of_no_blocks) {
  fake_hdd.drives.push_back({"EMPTY", 4096, 0, -1, false, false});
  run_result r = run_with({"EMPTY"});
  EXPECT_EQ(-1, r.status);
  EXPECT_EQ(std::vector<std::string>({"info EMPTY"}), fake_hdd.events) << "not opened";
  EXPECT_EQ(r.out.size() - strlen("drive EMPTY information: block_size=4096, n_blocks=0\n"),
            r.out.find("drive EMPTY information: block_size=4096, n_blocks=0\n"))
      << "the information line, and no table after it:\n"
      << r.out;
  EXPECT_EQ("blockmeter: nothing to measure: EMPTY has 0 blocks of 4096 bytes\n", r.err);
}

// A root that names no volume, or none at all, is refused; the next one is still measured.
TEST_F(driver, a_root_that_names_no_volume_is_turned_away_before_any_query) {
  for (auto [root, why] : {std::pair<std::string, std::string>{"quux", "quux: not a fake root"},
                           {"", "\"\": the name is empty"}}) {
    SetUp();
    fake_hdd.bad_root = "quux";
    run_result r = run_with({root, "B"});
    EXPECT_EQ(-1, r.status) << root;
    EXPECT_EQ("blockmeter: cannot measure " + why + "\nblockmeter: B: reading B\n" +
                  steady_times("B", {1, 11}, 16, "0.0"),
              r.err);
    EXPECT_EQ("info B", fake_hdd.events.front()) << "the root \"" << root << "\" was queried";
  }
}

TEST_F(driver, help_and_version_measure_nothing) {
  for (const char *option : {"--help", "-h", "/?"}) {
    run_result r = run_with({option});
    EXPECT_EQ(0, r.status) << option;
    EXPECT_EQ(0u, r.out.find("Usage: blockmeter [ROOT...]\n")) << option;
    EXPECT_NE(std::string::npos, r.out.find("A root is a fake drive.\n")) << option;
  }
  run_result r = run_with({"--version"});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("blockmeter " BLOCKMETER_VERSION "\n", r.out);
  EXPECT_TRUE(fake_hdd.events.empty());
  EXPECT_EQ(0, priority_raises);
}

TEST_F(driver, anything_else_is_a_root) {
  for (std::vector<std::string> args : {std::vector<std::string>{"--nonsense"}, {"B", "--help"}}) {
    reset_fakes();
    SetUp();
    run_result r = run_with(args);
    EXPECT_EQ(-1, r.status);
    EXPECT_EQ("info " + args.back(), fake_hdd.events.back());
    EXPECT_EQ((args.size() > 1 ? "blockmeter: B: reading B\n" + steady_times("B", {1, 11}, 16, "0.0") : "") +
                  "blockmeter: cannot read the geometry of " + args.back() + ": fake error 5\n",
              r.err);
  }
}

// Which device is read is said once the volume is open, then what would make
// its figures the page cache's, all before the tables; every line shows a
// root's control characters escaped.
TEST_F(driver, says_which_device_is_read_and_warns_before_the_tables) {
  const std::string root = "x\n\x1b[2J", shown = "x\\n\\x1b[2J";
  hdd_device loop;
  loop.node = "/dev/loop3p1";
  loop.disk = "/dev/loop3";
  loop.bytes = 3 << 19;
  loop.logical_sector = 512;
  loop.physical_sector = 4096;
  loop.rotational = 0;
  loop.model = "M";
  loop.transport = "usb";
  loop.loop_direct_io = 0;
  loop.loop_backing = "/x\t.img";
  fake_hdd.drives.push_back({root, 512, 16, -1, false, false, 2048, {loop}});
  fake_hdd.fail_read_at = 1;
  run_result r = run_with({root, root + "?"});
  EXPECT_NE(std::string::npos,
            r.out.find("\ndrive " + shown + " information: block_size=512, n_blocks=16\nMulti"))
      << r.out;
  EXPECT_EQ(
      "blockmeter: " + shown +
          ": reading /dev/loop3p1 (partition of /dev/loop3), 1.5 MiB, logical sector 512 B, physical sector "
          "4096 B, non-rotational, model \"M\", transport usb, loop device backed by /x\\t.img, direct I/O "
          "off\n"
          "blockmeter: warning: " +
          shown +
          " is read through the loop device /dev/loop3, which has no direct I/O: its reads go through the "
          "page cache of its backing file /x\\t.img, so the speeds shown are the cache's, not the disk's; "
          "attach it with direct I/O: losetup --direct-io=on /dev/loop3\n"
          "blockmeter: warning: 25.0% of " +
          shown +
          " (2048 of 8192 bytes) is in compressed extents, which its file system reads through the page "
          "cache: reads there do not show the device's speed, so the speeds shown are too high; write the "
          "file anew with compression off (chattr +m while it is empty), or name its device instead\n" +
          steady_times(shown, {1}, 0, "0.0") + "blockmeter: " + shown +
          ": sequential 1 blocks: 1 of 16 reads failed or came back short; first: "
          "fake error 5\n" +
          steady_times(shown, {11}, 16, "0.0") + "blockmeter: cannot read the geometry of " + shown +
          "?: fake error 5\n",
      r.err);
}

// The link is a fact of its own right after the transport, once per device,
// where blockmeter-report reads it back.
TEST_F(driver, names_each_devices_link_after_its_transport) {
  hdd_device sata, nvme;
  sata.node = "/dev/sda";
  sata.transport = "ata";
  sata.link = "SATA 3.0 Gb/s";
  nvme.node = "/dev/nvme0n1";
  nvme.transport = "nvme";
  nvme.link = "PCIe 8.0 GT/s x4";
  fake_hdd.drives.push_back({"R", 512, 16, -1, false, false, 0, {sata, nvme}});
  run_result r = run_with({"R"});
  EXPECT_EQ(0u,
            r.err.find("blockmeter: R: reading /dev/sda, transport ata, link SATA 3.0 Gb/s; /dev/nvme0n1, "
                       "transport nvme, link PCIe 8.0 GT/s x4\n"))
      << r.err;
}

}  // namespace
