// What blockmeter printed, read back: per input, the drives in order, each
// with its geometry and the rows of its two tables.
//
// The parser takes blockmeter's standard output a line at a time, with any
// other lines mixed in (its banner, its standard error when captured with
// 2>&1, anything else). Only an information line, the two headings, the two
// column headers, table rows, and from standard error blockmeter's report of
// failed reads, the device it read and its warnings count; every other line
// is passed over. No line can make it fail.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "blockmeter_format.h"
#include "decode_text.h"

struct report_row {
  int64_t first;               // sequential: blocks per read; random: the range in blocks
  int64_t reads;               // reads made
  int64_t ms;                  // elapsed milliseconds
  double mib_per_s;            // the speed column's value
  std::string mib_per_s_text;  // the speed column exactly as printed
  bool failed_reads;           // blockmeter reported failed or short reads right after this row
  bool timed = false;          // blockmeter printed the times of the row's reads: the two below are set
  std::array<double, read_time_count> read_us =
      {};  // first, min, p10 ... p99.9, max (read_time_labels), in us
  std::array<std::string, read_time_count> read_us_text = {};  // each exactly as printed
};

// Where in read_us each time is.
constexpr int read_first = 0, read_min = 1, read_p10 = 2, read_p25 = 3, read_p50 = 4, read_p75 = 5,
              read_p90 = 6, read_p99 = 7, read_p999 = 8, read_max = 9;

struct report_table {
  bool heading_seen;  // "Multisector read test" or "Random read test"
  bool header_seen;   // its column header, after which rows are taken
  std::vector<report_row> rows;
};

struct report_drive {
  std::string root;  // exactly as printed between "drive " and the last " information: "
  int64_t block_size;
  int64_t n_blocks;
  bool not_opened;     // "can't open drive" took the place of the tables
  std::string device;  // what blockmeter said it read ("blockmeter: ROOT: reading DEVICE"); may be empty
  std::vector<std::string> warnings;  // blockmeter's warnings about the drive ("blockmeter: warning: TEXT")
  report_table sequential;
  report_table random;
};

struct report_input {
  std::string name;  // as named on the command line; "-" for standard input
  std::vector<report_drive> drives;
  int64_t overlong_drive_lines = 0;  // information lines longer than any blockmeter prints, passed over
                                     // with the tables after them
};

// Where the parser is in one input: which table takes rows, and whether the
// line before was a row (blockmeter reports failed reads on the next line).
struct report_parser {
  report_input *input;
  bool drive_open;  // the latest information line was well formed
  int table;        // parse_none, parse_sequential or parse_random
  bool after_row;
};

constexpr int parse_none = 0;
constexpr int parse_sequential = 1;
constexpr int parse_random = 2;

// Starts parsing into input, whose drives are kept and added to.
void start_parse(report_input *input, report_parser *parser);

// Takes one line, without its line feed; a trailing carriage return (the
// Windows build's CR LF) is ignored.
void parse_line(report_parser *parser, std::string_view line);

// Takes the start of a line too long to be blockmeter's, which is passed
// over; one that starts as an information line ends the drive before it, so
// that no table after it is taken for that drive's, and is counted in
// input->overlong_drive_lines.
void parse_overlong_line(report_parser *parser, std::string_view start);

// Longer than any line blockmeter prints: a root is at most a path (32767
// UTF-16 units on Windows, which UTF-8 can make three bytes each).
constexpr size_t longest_line = 128 * 1024;

// Splits text into lines for a parser, a chunk at a time: at LF, CR LF, or a
// CR alone (a capture saved with old Mac line ends). A line is kept up to one
// byte past longest_line; one that reaches that is passed over whole
// (parse_overlong_line).
struct line_splitter {
  std::string line;       // the line so far
  bool after_cr = false;  // the last chunk ended in a CR, whose LF may start the next
};
void split_lines(line_splitter *splitter, std::string_view text, report_parser *parser);
// Parses what is left after the last line end, at the input's end.
void finish_lines(line_splitter *splitter, report_parser *parser);

// Parses a whole text into input: lines split as split_lines does, the last
// one taken even without a line end.
void parse_text(std::string_view text, report_input *input);

// Reads file to its end and parses it into input. The text may be plain, or
// UTF-8 or UTF-16 (LE or BE) after a byte-order mark (decode_text.h). Lines
// longer than any blockmeter prints are passed over without being held
// whole, so that no input can exhaust memory one line at a time. *found (may
// be null) is set to what the input holds when it is not text, e.g. "not
// text: NUL bytes in the first line" (UTF-16 without a mark, a binary file),
// else emptied. Returns 0, or -1 with *why set to the system's words when
// reading failed.
int parse_file(FILE *file, report_input *input, std::string *why, std::string *found = nullptr);

// The same, a chunk at a time, for a caller that takes each drive as it is
// complete: every drive but the last in input->drives is, after each chunk.
struct report_reader {
  FILE *file;
  report_parser parser;
  text_decoder decoder;
  line_splitter lines;
  std::string text;  // the latest chunk, decoded
  bool in_first_line, nul_in_first_line;
  bool done;  // all is read and parsed
  char chunk[65536];
};
void start_read(FILE *file, report_input *input, report_reader *reader);
// Reads and parses the next chunk, setting reader->done once all is read and
// parsed. Returns 0, or -1 with *why set to the system's words when reading
// failed.
int read_chunk(report_reader *reader, std::string *why);
// What the input holds when it is not text (as parse_file's *found), or "".
std::string what_was_found(const report_reader *reader);

// The rows a complete table of the drive holds: 20 sequential rows; one random
// row per halving of n_blocks while above 1.
int expected_rows(const report_drive *drive, bool random);

// Whether the drive's output ends early: a table with fewer rows than a whole
// run prints, or tables announced and missing. A drive that could not be
// opened or has no blocks is complete without tables. When cut short, *why
// (may be null) says what is there, e.g. "random table: 6 of 10 rows".
bool is_cut_short(const report_drive *drive, std::string *why);
