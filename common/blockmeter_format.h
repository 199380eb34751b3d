// What blockmeter prints and blockmeter-report reads back: the parameters of
// the sequential test, the information line, the tables' headings and column
// titles, and the forms of its lines about a row on standard error. One
// header for the writer and the reader, so that neither drifts from the other.
// Free of any system header; the strings are arrays, for printf and for
// string_view alike.
#pragma once

#include <cstddef>
#include <string_view>

// The sequential test reads from block 0 in sequential_steps steps of 1 up to
// sequential_max_blocks blocks per read, sequential_reps reads a step at
// first (the count then adapts to each step's time). The random test makes
// random_reads reads over its first range.
inline constexpr int sequential_reps = 1000;
inline constexpr int sequential_max_blocks = 200;
inline constexpr int sequential_steps = 20;
inline constexpr int random_reads = 100;

// The blocks per read of step (0 to steps - 1) of a sweep from 1 block up to
// max_blocks: 1, 11, 21, 32, ... 200 for blockmeter's own.
constexpr int sequential_step_blocks(int step, int max_blocks = sequential_max_blocks,
                                     int steps = sequential_steps) {
  return (max_blocks - 1) * step / (steps - 1) + 1;
}
static_assert(sequential_step_blocks(sequential_steps - 1) == sequential_max_blocks);

// The passes of the random test over a volume of n_blocks: one per range,
// from n_blocks halved while above 1.
constexpr int random_passes(long long n_blocks) {
  int passes = 0;
  for (; n_blocks > 1; n_blocks >>= 1) ++passes;
  return passes;
}
static_assert(random_passes(65536) == 16 && random_passes(3) == 1 && random_passes(1) == 0);

// Whether text holds part: for the checks below that each format holds the
// markers the reader looks for (a loop of its own, as string_view's find is
// no constant expression under every compiler's checks).
constexpr bool holds_text(std::string_view text, std::string_view part) {
  for (size_t at = 0; at + part.size() <= text.size(); ++at)
    if (text.substr(at, part.size()) == part) return true;
  return false;
}

// "drive ROOT information: block_size=B, n_blocks=N", and the line that takes
// the tables' place when the volume cannot be opened.
inline constexpr char drive_line_format[] = "drive %s information: block_size=%i, n_blocks=%lli\n";
inline constexpr char drive_line_start[] = "drive ";
inline constexpr char information_marker[] = " information: block_size=";
inline constexpr char n_blocks_marker[] = ", n_blocks=";
inline constexpr char cannot_open_line[] = "can't open drive";
static_assert(std::string_view(drive_line_format).starts_with(drive_line_start));
static_assert(holds_text(drive_line_format, information_marker));
static_assert(holds_text(drive_line_format, n_blocks_marker));

// Each table: a heading, a rule under it, then a header of four column titles
// and rows of four columns, each right-aligned in 15 characters.
inline constexpr char sequential_heading[] = "Multisector read test";
inline constexpr char random_heading[] = "Random read test";
inline constexpr char heading_rule[] = "---------------------------";
inline constexpr char sequential_first_column[] = "N Blocks";
inline constexpr char sequential_second_column[] = "N Reps";
inline constexpr char random_first_column[] = "Random range";
inline constexpr char random_second_column[] = "N reps";
inline constexpr char time_column[] = "Time,ms";
inline constexpr char speed_column[] = "Speed,MB/s";

// Standard error: every line starts with the program's name; a line about a
// drive then names its root, and one about a row names the row ("sequential
// 11 blocks", "random range 4096"). The device read, and warnings, come
// before the tables; a row's failed reads right after it.
inline constexpr char program_prefix[] = "blockmeter: ";
inline constexpr char warning_prefix[] = "blockmeter: warning: ";
inline constexpr char device_marker[] = "reading ";  // after "blockmeter: ROOT: "
inline constexpr char sequential_row_format[] = "sequential %lld blocks";
inline constexpr char random_row_format[] = "random range %lld";
inline constexpr char sequential_row_start[] = "sequential ";
inline constexpr char sequential_row_end[] = " blocks";
inline constexpr char random_row_start[] = "random range ";
inline constexpr char read_failure_format[] =
    "blockmeter: %s: %s: %d of %d reads failed or came back short; first: %s\n";
inline constexpr char read_failure_words[] = "reads failed or came back short";
static_assert(std::string_view(sequential_row_format).starts_with(sequential_row_start));
static_assert(std::string_view(sequential_row_format).ends_with(sequential_row_end));
static_assert(std::string_view(random_row_format).starts_with(random_row_start));
// After each row that made reads, the times of its reads in microseconds
// with one decimal: "blockmeter: ROOT: ROW: read time us: first 61.3, min
// 41.2, p10 44.9, ..., max 1503.0", each label and its number in this order.
inline constexpr char read_times_words[] = "read time us: ";
inline constexpr int read_time_count = 10;
inline constexpr const char *read_time_labels[read_time_count] = {"first", "min", "p10", "p25",   "p50",
                                                                  "p75",   "p90", "p99", "p99.9", "max"};
// The percentile each label past the first two stands for.
inline constexpr double read_time_percents[read_time_count] = {0, 0, 10, 25, 50, 75, 90, 99, 99.9, 100};
static_assert(std::string_view(read_failure_format).starts_with(program_prefix));
static_assert(holds_text(read_failure_format, read_failure_words));
