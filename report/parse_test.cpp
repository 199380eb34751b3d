// The reader of blockmeter's output, on captured runs and on what may be
// mixed into them or cut from them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "blockmeter_format.h"
#include "report.h"
#include "test_data.h"

namespace {

// The read sizes of blockmeter's sequential table, from its manual page.
const int64_t sequential_sizes[] = {1,   11,  21,  32,  42,  53,  63,  74,  84,  95,
                                    105, 116, 126, 137, 147, 158, 168, 179, 189, 200};

const char banner[] = "blockmeter 1.0.0 - raw read speed of a volume\nQuestions and bug reports: ...\n";

// A drive's tables as blockmeter prints them, for n_blocks 16: 20 sequential
// rows of 1 ms and 4 random rows (ranges 16, 8, 4, 2) of 150 ms.
std::string small_drive(const std::string &root) {
  std::string text = "drive " + root + " information: block_size=512, n_blocks=16\n";
  text += "Multisector read test\n---------------------------\n";
  text += "       N Blocks         N Reps        Time,ms     Speed,MB/s\n";
  char row[128];
  for (int64_t size : sequential_sizes) {
    snprintf(row, sizeof row, "%15i%15i%15i%15f\n", (int)size, size > 16 ? 0 : (int)(16 / size), 1, 1.5);
    text += row;
  }
  text += "Random read test\n---------------------------\n";
  text += "   Random range         N reps        Time,ms     Speed,MB/s\n";
  for (long long range = 16; range > 1; range >>= 1) {
    snprintf(row, sizeof row, "%15lli%15i%15i%15f\n", range, 1000, 150, 3.255208);
    text += row;
  }
  return text;
}

// Geometry, read sizes and ranges against what blockmeter's manual page says
// of its tables; a row at each end of the file against the text.
TEST(parse, reads_every_drive_and_row_of_captured_runs) {
  report_input two = parse_named("two", read_test_data("linux_two_drives.txt"));
  report_input win = parse_named("win", read_test_data("win64_crlf.txt"));  // CR LF; its last range is 3
  ASSERT_EQ(2u, two.drives.size());
  ASSERT_EQ(1u, win.drives.size());
  const report_drive *drives[] = {&two.drives[0], &two.drives[1], &win.drives[0]};
  const char *roots[] = {"a.img", "b.img", "Q:\\"};
  const int64_t n_blocks[] = {2048, 1024, 3936};
  const size_t random_rows[] = {11, 10, 11};
  for (int i = 0; i < 3; ++i) {
    const report_drive *drive = drives[i];
    EXPECT_EQ(roots[i], drive->root);
    EXPECT_EQ(512, drive->block_size);
    EXPECT_EQ(n_blocks[i], drive->n_blocks);
    ASSERT_EQ(20u, drive->sequential.rows.size());
    for (size_t j = 0; j < 20; ++j) EXPECT_EQ(sequential_sizes[j], drive->sequential.rows[j].first);
    ASSERT_EQ(random_rows[i], drive->random.rows.size());
    for (size_t j = 0; j < random_rows[i]; ++j) EXPECT_EQ(n_blocks[i] >> j, drive->random.rows[j].first);
    EXPECT_FALSE(is_cut_short(drive, nullptr));
  }
  const report_row &first = drives[0]->sequential.rows[0], &last = drives[2]->sequential.rows.back();
  EXPECT_EQ((std::vector<int64_t>{1, 1000, 141}), (std::vector<int64_t>{first.first, first.reads, first.ms}));
  EXPECT_EQ("3.462988", first.mib_per_s_text);
  EXPECT_DOUBLE_EQ(3.462988, first.mib_per_s);
  EXPECT_EQ((std::vector<int64_t>{200, 19, 3}), (std::vector<int64_t>{last.first, last.reads, last.ms}));
  EXPECT_EQ("618.489583", last.mib_per_s_text);
}

TEST(parse, marks_the_rows_after_which_reads_failed) {
  report_input input = parse_named("failed", read_test_data("linux_failed_reads.txt"));
  ASSERT_EQ(1u, input.drives.size());
  std::vector<int64_t> failed;
  for (const report_row &row : input.drives[0].random.rows)
    if (row.failed_reads) failed.push_back(row.first);
  for (const report_row &row : input.drives[0].sequential.rows) EXPECT_FALSE(row.failed_reads);
  EXPECT_EQ((std::vector<int64_t>{128, 64, 32}), failed);
  EXPECT_EQ(11u, input.drives[0].random.rows.size()) << "a report of failed reads is not a row";

  // The form that names the root and the row, after either table's rows;
  // a report that does not follow a row marks nothing.
  std::string text = small_drive("d");
  auto insert_after = [&](const std::string &line, const std::string &what) {
    text.insert(text.find('\n', text.find(line)) + 1, what + "\n");
  };
  insert_after("             11              1",
               "blockmeter: d: sequential 11 blocks: 1 of 1 reads failed or came back short; first: "
               "Input/output error");
  insert_after(
      "              4           1000",
      "blockmeter: d: random range 4: 3 of 1000 reads failed or came back short; first: 0 of 1 blocks read");
  insert_after("   Random range",
               "blockmeter: 1 of 2 reads failed or came back short; first: Input/output error");
  insert_after("             21              0",
               "stray line\nblockmeter: 1 of 2 reads failed or came back short; first: Input/output error");
  report_input mixed = parse_named("mixed", text);
  ASSERT_EQ(1u, mixed.drives.size());
  const report_drive &d = mixed.drives[0];
  ASSERT_EQ(20u, d.sequential.rows.size());
  ASSERT_EQ(4u, d.random.rows.size());
  for (size_t i = 0; i < 20; ++i) EXPECT_EQ(i == 1, d.sequential.rows[i].failed_reads) << "row " << i;
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(i == 2, d.random.rows[i].failed_reads) << "row " << i;
}

TEST(parse, knows_a_run_cut_short_from_a_complete_one) {
  report_input cut = parse_named("cut", read_test_data("linux_cut_short.txt"));
  ASSERT_EQ(1u, cut.drives.size());
  EXPECT_EQ(20u, cut.drives[0].sequential.rows.size());
  EXPECT_EQ(6u, cut.drives[0].random.rows.size());
  std::string why;
  EXPECT_TRUE(is_cut_short(&cut.drives[0], &why));
  EXPECT_EQ("random table: 6 of 11 rows", why);

  // Stopped within the sequential table, and just after the information line.
  std::string whole = small_drive("d");
  report_input early = parse_named("early", whole.substr(0, whole.find("             53")));
  ASSERT_EQ(1u, early.drives.size());
  EXPECT_TRUE(is_cut_short(&early.drives[0], &why));
  EXPECT_EQ("sequential table: 5 of 20 rows, no random table", why);
  report_input info_only = parse_named("info", whole.substr(0, whole.find("Multisector")));
  EXPECT_TRUE(is_cut_short(&info_only.drives[0], &why));
  EXPECT_EQ("no tables", why);

  // Complete though short of rows: the volume could not be opened, it has no
  // blocks, or the sequential buffer could not be allocated.
  std::string no_seq_buffer = whole;
  size_t header = no_seq_buffer.find("       N Blocks");
  no_seq_buffer.erase(header, no_seq_buffer.find("Random read test") - header);
  report_input complete =
      parse_named("complete", std::string(banner) +
                                  "drive x information: block_size=512, n_blocks=99\ncan't open drive\n" +
                                  "drive y information: block_size=4096, n_blocks=0\n"
                                  "blockmeter: nothing to measure: y has 0 blocks of 4096 bytes\n" +
                                  no_seq_buffer);
  ASSERT_EQ(3u, complete.drives.size());
  EXPECT_TRUE(complete.drives[0].not_opened);
  for (const report_drive &drive : complete.drives) {
    EXPECT_FALSE(is_cut_short(&drive, &why)) << drive.root << ": " << why;
  }
  EXPECT_EQ(0u, complete.drives[2].sequential.rows.size());
  EXPECT_EQ(4u, complete.drives[2].random.rows.size());
}

TEST(parse, takes_nothing_from_garbage) {
  std::string garbage("\0\r\n\xff\xfe drive \n\n   1 2 3 4.0\n", 27);
  for (int i = 0; i < 256; ++i) garbage += (char)(i * 37 + 11);
  for (const std::string &text : {std::string(), garbage, std::string(banner),
                                  // Rows and headers with no information line before them.
                                  small_drive("d").substr(small_drive("d").find("Multisector"))}) {
    report_input input = parse_named("x", text);
    EXPECT_TRUE(input.drives.empty()) << text;
  }
}

TEST(parse, takes_the_root_as_printed_and_refuses_malformed_numbers) {
  const std::string root = "odd, \"root\" information: block_size=1, n_blocks=2 \xc3\xa9\xff";
  report_input input =
      parse_named("roots", small_drive(root) + "drive  information: block_size=4096, n_blocks=1\n");
  ASSERT_EQ(2u, input.drives.size());
  EXPECT_EQ(root, input.drives[0].root);
  EXPECT_EQ(512, input.drives[0].block_size);
  EXPECT_EQ(16, input.drives[0].n_blocks);
  EXPECT_EQ(20u, input.drives[0].sequential.rows.size());
  EXPECT_EQ("", input.drives[1].root);
  EXPECT_EQ(4096, input.drives[1].block_size);

  // blockmeter escapes a root's control characters; the escaped form is the
  // root, in its information line and its device line alike.
  const std::string escaped = "a\\nb\\x1b.img";
  std::string text = small_drive(escaped);
  text.insert(text.find("Multisector"), "blockmeter: " + escaped + ": reading /dev/sda, 1 GiB\n");
  report_input read_back = parse_named("escaped", text);
  ASSERT_EQ(1u, read_back.drives.size());
  EXPECT_EQ(escaped, read_back.drives[0].root);
  EXPECT_EQ("/dev/sda, 1 GiB", read_back.drives[0].device);
  EXPECT_EQ(20u, read_back.drives[0].sequential.rows.size());

  // A malformed information line starts no drive, and the tables after it
  // are not taken for the drive before it.
  for (const char *numbers :
       {"block_size=-512, n_blocks=16", "block_size=0, n_blocks=16",
        "block_size=512, n_blocks=99999999999999999999", "block_size=4294967808, n_blocks=16"}) {
    std::string text = small_drive("good");
    std::string bad = small_drive("bad");
    bad.replace(bad.find("block_size"), bad.find('\n') - bad.find("block_size"), numbers);
    report_input two = parse_named("bad", text + bad);
    ASSERT_EQ(1u, two.drives.size()) << numbers;
    EXPECT_EQ(20u, two.drives[0].sequential.rows.size()) << numbers;
    EXPECT_EQ(4u, two.drives[0].random.rows.size()) << numbers;
  }
  // A row whose numbers overflow what blockmeter prints is not a row.
  std::string big = small_drive("big");
  const std::string row16 = "             16           1000";
  big.replace(big.find(row16), row16.size(), "99999999999999999999999 1000");
  EXPECT_EQ(3u, parse_named("big", big).drives[0].random.rows.size());
}

// parse_file reads in chunks: rows across a chunk's end are whole, and a line
// longer than any blockmeter prints is passed over.
TEST(parse, reads_a_file_as_it_reads_a_text) {
  std::string text = read_test_data("linux_two_drives.txt");
  // An overlong line over several chunks, then the text across a chunk's end.
  std::string padded = std::string(200000, 'y') + "\n";
  padded += std::string(4 * 65536 - 2000 - padded.size() - 1, 'x') + "\n" + text;
  report_input from_file = parse_bytes(padded), from_text = parse_named("", text);
  ASSERT_EQ(from_text.drives.size(), from_file.drives.size());
  for (size_t i = 0; i < from_text.drives.size(); ++i) {
    const report_drive &a = from_text.drives[i], &b = from_file.drives[i];
    EXPECT_EQ(a.root, b.root);
    ASSERT_EQ(a.sequential.rows.size(), b.sequential.rows.size());
    ASSERT_EQ(a.random.rows.size(), b.random.rows.size());
    for (size_t j = 0; j < a.random.rows.size(); ++j) EXPECT_EQ(a.random.rows[j].ms, b.random.rows[j].ms);
  }
}

// The steps that blockmeter and the report share, against the read sizes
// the manual page lists for blockmeter's sequential table.
TEST(parse, the_shared_steps_are_blockmeters_table) {
  ASSERT_EQ(20, sequential_steps);
  for (int step = 0; step < sequential_steps; ++step)
    EXPECT_EQ(sequential_sizes[step], sequential_step_blocks(step)) << "step " << step;
}

// A capture saved with CR alone at each line's end reads as with LF; a CR LF
// split between two chunks is one line end, so the report of failed reads
// on the line after a row still marks it.
TEST(parse, reads_lines_ended_by_a_carriage_return_alone) {
  std::string lf = read_test_data("linux_two_drives.txt"), cr = lf;
  std::replace(cr.begin(), cr.end(), '\n', '\r');
  report_input from_lf = parse_named("lf", lf), from_cr = parse_named("cr", cr);
  ASSERT_EQ(2u, from_cr.drives.size());
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(from_lf.drives[i].root, from_cr.drives[i].root);
    EXPECT_EQ(from_lf.drives[i].sequential.rows.size(), from_cr.drives[i].sequential.rows.size());
    EXPECT_EQ(from_lf.drives[i].random.rows.size(), from_cr.drives[i].random.rows.size());
  }

  std::string drive = small_drive("d");
  std::string row = "             16           1000            150       3.255208";
  drive.replace(
      drive.find(row), row.size() + 1,
      row + "\r\nblockmeter: 1 of 1000 reads failed or came back short; first: Input/output error\r\n");
  // The first chunk of the file ends between that row's CR and its LF.
  std::string padding = std::string(65536 - (drive.find(row) + row.size() + 1) - 1, 'x') + "\n";
  std::string text = padding + drive;
  ASSERT_EQ('\r', text[65535]);
  report_input input = parse_bytes(text);
  ASSERT_EQ(1u, input.drives.size());
  EXPECT_TRUE(input.drives[0].random.rows[0].failed_reads);
}

// An information line too long to be blockmeter's ends the drive before it:
// its tables are nobody's, and it is counted for a note.
TEST(parse, a_drive_line_past_the_longest_is_passed_over_with_its_tables) {
  std::string cut = small_drive("a");
  cut = cut.substr(0, cut.find("             53"));  // 5 sequential rows, then the run stopped
  report_input input = parse_named("long", cut + small_drive(std::string(longest_line, 'r')));
  ASSERT_EQ(1u, input.drives.size());
  EXPECT_EQ(5u, input.drives[0].sequential.rows.size());
  EXPECT_EQ(0u, input.drives[0].random.rows.size());
  EXPECT_EQ(1, input.overlong_drive_lines);
}

// A root that reads like a warning: its device line is its device line.
TEST(parse, a_root_named_like_a_warning_is_no_warning) {
  std::string text = small_drive("warning: x.img");
  text.insert(text.find("Multisector"),
              "blockmeter: warning: x.img: reading /dev/sda, 1 GiB\n"
              "blockmeter: warning: 75.0% of warning: x.img is holes\n");
  report_input input = parse_named("w", text);
  ASSERT_EQ(1u, input.drives.size());
  EXPECT_EQ("/dev/sda, 1 GiB", input.drives[0].device);
  EXPECT_EQ(std::vector<std::string>{"75.0% of warning: x.img is holes"}, input.drives[0].warnings);
}

// A report of failed reads that names its row marks that row wherever it
// comes, as blockmeter's later lines about a row will.
TEST(parse, a_line_that_names_its_row_marks_that_row) {
  std::string text =
      small_drive("d") +
      "blockmeter: d: random range 8: 2 of 1000 reads failed or came back short; first: Input/output "
      "error\nblockmeter: d: sequential 21 blocks: 1 of 1 reads failed or came back short; first: x\n";
  report_input input = parse_named("named", text);
  ASSERT_EQ(1u, input.drives.size());
  for (const report_row &row : input.drives[0].random.rows)
    EXPECT_EQ(row.first == 8, row.failed_reads) << row.first;
  for (const report_row &row : input.drives[0].sequential.rows)
    EXPECT_EQ(row.first == 21, row.failed_reads) << row.first;
}

// Each row's read times go to the row they name; a line that names no row of
// the drive, or misses a time, is passed over; captures without them read as
// before.
TEST(parse, attaches_read_times_to_the_row_they_name) {
  report_input timed = parse_named("timed", read_test_data("linux_emulated_7200.txt"));
  ASSERT_EQ(1u, timed.drives.size());
  const report_drive &drive = timed.drives[0];
  ASSERT_EQ(20u, drive.sequential.rows.size());
  ASSERT_EQ(17u, drive.random.rows.size());
  for (const report_table *table : {&drive.sequential, &drive.random})
    for (const report_row &row : table->rows) EXPECT_TRUE(row.timed) << row.first;
  const report_row &seq42 = drive.sequential.rows[4];
  ASSERT_EQ(42, seq42.first);
  EXPECT_EQ(12875.3, seq42.read_us[read_first]);
  EXPECT_EQ(338.4, seq42.read_us[read_p50]);
  EXPECT_EQ(18412.0, seq42.read_us[read_max]);
  const report_row &range4096 = drive.random.rows[5];
  ASSERT_EQ(4096, range4096.first);
  EXPECT_EQ(5349.4, range4096.read_us[read_p50]);
  EXPECT_EQ("11309.7", range4096.read_us_text[read_p999]);

  std::string text = small_drive("r") +
                     "blockmeter: r: random range 2: read time us: first 9.5, min 1.0, p10 2.0, p25 3.0, p50 4.0, "
                     "p75 5.0, p90 6.0, p99 7.0, p99.9 8.0, max 12.5\r\n"
                     "blockmeter: r: random range 2: 1 of 1000 reads failed or came back short; first: EIO\n"
                     "blockmeter: r: random range 4: read time us: first 1.0, min 1.0, p10 1.0\n"
                     "blockmeter: r: random range 64: read time us: first 1.0, min 1.0, p10 1.0, p25 1.0, p50 1.0, "
                     "p75 1.0, p90 1.0, p99 1.0, p99.9 1.0, max 1.0\n";
  report_input small = parse_named("small", text);
  ASSERT_EQ(1u, small.drives.size());
  for (const report_row &row : small.drives[0].random.rows) {
    EXPECT_EQ(row.first == 2, row.timed) << row.first;
    // Its failed reads, reported after its times, are still its own.
    EXPECT_EQ(row.first == 2, row.failed_reads) << row.first;
    if (row.first != 2) continue;
    EXPECT_EQ(9.5, row.read_us[read_first]);
    EXPECT_EQ(4.0, row.read_us[read_p50]);
    EXPECT_EQ(12.5, row.read_us[read_max]);
    EXPECT_EQ("12.5", row.read_us_text[read_max]);
  }
  report_input old = parse_named("old", read_test_data("linux_two_drives.txt"));
  for (const report_row &row : old.drives[0].random.rows) EXPECT_FALSE(row.timed);
}

}  // namespace
