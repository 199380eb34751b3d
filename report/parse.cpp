#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <memory>

#include "blockmeter_format.h"
#include "decode_text.h"
#include "report.h"

constexpr size_t most_warnings = 16;
constexpr size_t longest_warning = 4096;

static std::string_view trim(std::string_view text) {
  size_t start = text.find_first_not_of(" \t\r");
  if (start == std::string_view::npos) return {};
  return text.substr(start, text.find_last_not_of(" \t\r") - start + 1);
}

// Splits at runs of blanks; returns false when there are more than max words.
static bool split_words(std::string_view text, std::string_view *words, int max, int *count) {
  *count = 0;
  for (size_t at = 0;;) {
    at = text.find_first_not_of(" \t", at);
    if (at == std::string_view::npos) return true;
    size_t end = std::min(text.find_first_of(" \t", at), text.size());
    if (*count == max) return false;
    words[(*count)++] = text.substr(at, end - at);
    at = end;
  }
}

constexpr int most_header_words = 8;

// Headers are compared word by word, so the column widths do not matter.
static bool is_header(std::string_view line, const char *first_column, const char *second_column) {
  std::string_view words[most_header_words], expected[most_header_words];
  int count = 0, expected_count = 0, more = 0;
  if (!split_words(line, words, most_header_words, &count)) return false;
  for (const char *column : {first_column, second_column, time_column, speed_column}) {
    split_words(column, expected + expected_count, most_header_words - expected_count, &more);
    expected_count += more;
  }
  return count == expected_count && std::equal(words, words + count, expected);
}

static bool is_sequential_header(std::string_view line) {
  return is_header(line, sequential_first_column, sequential_second_column);
}

static bool is_random_header(std::string_view line) {
  return is_header(line, random_first_column, random_second_column);
}

// A whole word of decimal digits no larger than max.
static bool parse_count(std::string_view word, int64_t max, int64_t *value) {
  if (word.empty() || word[0] == '+' || word[0] == '-') return false;
  auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), *value);
  return error == std::errc() && end == word.data() + word.size() && *value <= max;
}

// printf's %f of a finite number: digits, a point, digits.
static bool parse_speed(std::string_view word, double *value) {
  size_t point = word.find('.');
  if (point == 0 || point == std::string_view::npos || point + 1 == word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if (i != point && (word[i] < '0' || word[i] > '9')) return false;
  return std::from_chars(word.data(), word.data() + word.size(), *value).ec == std::errc();
}

static bool parse_row(std::string_view line, bool random, report_row *row) {
  std::string_view words[4];
  int count = 0;
  if (!split_words(line, words, 4, &count) || count != 4) return false;
  *row = report_row{};
  // Printed with %i, except the random range, which is 64-bit.
  if (!parse_count(words[0], random ? INT64_MAX : INT_MAX, &row->first) ||
      !parse_count(words[1], INT_MAX, &row->reads) || !parse_count(words[2], INT_MAX, &row->ms) ||
      !parse_speed(words[3], &row->mib_per_s))
    return false;
  row->mib_per_s_text = words[3];
  return true;
}

// "drive ROOT information: block_size=B, n_blocks=N". The root may hold
// anything, the marker included, so the numbers follow its last occurrence.
// Returns 0 for no information line, 1 for a well-formed one, -1 for one
// whose numbers are not blockmeter's.
static int parse_info_line(std::string_view line, report_drive *drive) {
  constexpr std::string_view start = drive_line_start, info = information_marker, n_blocks = n_blocks_marker;
  if (!line.starts_with(start)) return 0;
  size_t marker = line.rfind(info);
  if (marker == std::string_view::npos) return 0;
  std::string_view numbers = trim(line.substr(marker + info.size()));
  size_t comma = numbers.find(n_blocks);
  if (comma == std::string_view::npos) return -1;
  *drive = report_drive{};
  // An empty root shares its blank with "drive ": the marker starts a byte
  // before the root would.
  if (marker >= start.size()) drive->root = line.substr(start.size(), marker - start.size());
  if (!parse_count(numbers.substr(0, comma), INT_MAX, &drive->block_size) || drive->block_size == 0 ||
      !parse_count(numbers.substr(comma + n_blocks.size()), INT64_MAX, &drive->n_blocks))
    return -1;
  return 1;
}

void start_parse(report_input *input, report_parser *parser) { *parser = {input, false, parse_none, false}; }

// The row a line of blockmeter's standard error names after the root:
// "sequential 11 blocks: ..." or "random range 4096: ...". Returns the table
// (parse_sequential or parse_random) with *first set, or parse_none.
static int named_row(std::string_view text, int64_t *first) {
  constexpr std::string_view sequential_start = sequential_row_start, sequential_end = sequential_row_end,
                             random_start = random_row_start;
  std::string_view number;
  int table = parse_none;
  if (text.starts_with(sequential_start)) {
    text.remove_prefix(sequential_start.size());
    number = text.substr(0, text.find(' '));
    if (!text.substr(number.size()).starts_with(sequential_end)) return parse_none;
    table = parse_sequential;
  } else if (text.starts_with(random_start)) {
    text.remove_prefix(random_start.size());
    number = text.substr(0, text.find(':'));
    table = parse_random;
  } else {
    return parse_none;
  }
  return parse_count(number, INT64_MAX, first) ? table : parse_none;
}

// "first 61.3, min 41.2, p10 44.9, ..., max 1503.0": every label in its
// place, each with a number as blockmeter prints it. Returns false, with row
// untouched, for any other text.
static bool parse_read_times(std::string_view text, report_row *row) {
  double values[read_time_count];
  std::string_view words[read_time_count];
  for (int i = 0; i < read_time_count; ++i) {
    std::string_view label = read_time_labels[i];
    if (!text.starts_with(label) || !text.substr(label.size()).starts_with(' ')) return false;
    text.remove_prefix(label.size() + 1);
    size_t end = i + 1 < read_time_count ? text.find(", ") : text.size();
    if (end == std::string_view::npos || !parse_speed(text.substr(0, end), &values[i])) return false;
    words[i] = text.substr(0, end);
    text.remove_prefix(i + 1 < read_time_count ? end + 2 : end);
  }
  row->timed = true;
  for (int i = 0; i < read_time_count; ++i) row->read_us[i] = values[i], row->read_us_text[i] = words[i];
  return true;
}

// A line about the current drive's root, by its form: the device it read, or
// a row's read times or failed reads. Returns false for any other line.
static bool parse_root_line(report_drive *drive, std::string_view line) {
  constexpr std::string_view program = program_prefix, device = device_marker;
  if (!line.starts_with(program) || !line.substr(program.size()).starts_with(drive->root) ||
      !line.substr(program.size() + drive->root.size()).starts_with(": "))
    return false;
  std::string_view text = line.substr(program.size() + drive->root.size() + 2);
  if (text.starts_with(device)) {
    if (drive->device.empty()) drive->device = trim(text.substr(device.size()));
    return true;
  }
  int64_t first = 0;
  int table = named_row(text, &first);
  if (table == parse_none) return false;
  std::string_view rest = text.substr(text.find(": ") == text.npos ? text.size() : text.find(": ") + 2);
  bool times = rest.starts_with(read_times_words);
  if (!times && text.find(read_failure_words) == text.npos) return false;
  // Attached to the row it names, wherever the line comes.
  std::vector<report_row> &rows = (table == parse_random ? drive->random : drive->sequential).rows;
  for (auto row = rows.rbegin(); row != rows.rend(); ++row)
    if (row->first == first) {
      if (times)
        parse_read_times(trim(rest.substr(std::string_view(read_times_words).size())), &*row);
      else
        row->failed_reads = true;
      break;
    }
  return true;
}

void parse_line(report_parser *parser, std::string_view line) {
  if (line.ends_with('\r')) line.remove_suffix(1);
  bool after_row = parser->after_row;
  parser->after_row = false;

  report_drive drive;
  int info = parse_info_line(line, &drive);
  if (info != 0) {
    // A malformed information line still ends the drive before it, so that
    // no table after it is taken for that drive's.
    parser->drive_open = info > 0;
    parser->table = parse_none;
    if (info > 0) parser->input->drives.push_back(std::move(drive));
    return;
  }
  if (!parser->drive_open) return;
  report_drive *current = &parser->input->drives.back();
  std::string_view text = trim(line);
  if (text == cannot_open_line) {
    current->not_opened = true;
    parser->table = parse_none;
  } else if (parse_root_line(current, line)) {
    // A root that reads like a warning ("warning: x.img") is the root's line, not a warning.
  } else if (line.starts_with(warning_prefix)) {
    // blockmeter gives a drive a few warnings at most; a text that repeats
    // them without end must not grow the report with it.
    std::string_view warning =
        trim(line.substr(std::string_view(warning_prefix).size())).substr(0, longest_warning);
    if (current->warnings.size() < most_warnings &&
        std::find(current->warnings.begin(), current->warnings.end(), warning) == current->warnings.end())
      current->warnings.emplace_back(warning);
  } else if (text == sequential_heading || text == random_heading) {
    bool random = text == random_heading;
    (random ? current->random : current->sequential).heading_seen = true;
    parser->table = parse_none;
  } else if (is_sequential_header(text) || is_random_header(text)) {
    bool random = is_random_header(text);
    report_table *table = random ? &current->random : &current->sequential;
    table->header_seen = true;
    table->rows.reserve(expected_rows(current, random));
    parser->table = random ? parse_random : parse_sequential;
  } else if (parser->table != parse_none) {
    bool random = parser->table == parse_random;
    report_table *table = random ? &current->random : &current->sequential;
    report_row row;
    // No run prints more rows than that: a table that goes on is not
    // blockmeter's, and must not grow the report without end.
    if ((int)table->rows.size() < expected_rows(current, random) && parse_row(text, random, &row)) {
      table->rows.push_back(std::move(row));
      parser->after_row = true;
    } else if (after_row && line.starts_with(program_prefix) && line.find(read_failure_words) != line.npos) {
      // The form that names no row marks the row just before it.
      table->rows.back().failed_reads = true;
    }
  }
}

void parse_overlong_line(report_parser *parser, std::string_view start) {
  parser->after_row = false;
  if (!start.starts_with("drive ")) return;
  parser->drive_open = false;
  parser->table = parse_none;
  ++parser->input->overlong_drive_lines;
}

// Ends the line so far: parsed whole, or passed over when it reached past
// the longest.
static void end_line(line_splitter *splitter, report_parser *parser) {
  if (splitter->line.size() <= longest_line)
    parse_line(parser, splitter->line);
  else
    parse_overlong_line(parser, splitter->line);
  splitter->line.clear();
}

void split_lines(line_splitter *splitter, std::string_view text, report_parser *parser) {
  std::string &line = splitter->line;
  while (!text.empty()) {
    if (splitter->after_cr) {
      splitter->after_cr = false;
      if (text[0] == '\n') {
        text.remove_prefix(1);
        continue;
      }
    }
    size_t end = text.find_first_of("\r\n");
    line.append(text.substr(0, std::min(end, longest_line + 1 - line.size())));
    if (end == std::string_view::npos) return;
    end_line(splitter, parser);
    splitter->after_cr = text[end] == '\r';
    text.remove_prefix(end + 1);
  }
}

void finish_lines(line_splitter *splitter, report_parser *parser) {
  if (!splitter->line.empty()) end_line(splitter, parser);
  splitter->after_cr = false;
}

void parse_text(std::string_view text, report_input *input) {
  report_parser parser;
  start_parse(input, &parser);
  line_splitter splitter;
  split_lines(&splitter, text, &parser);
  finish_lines(&splitter, &parser);
}

void start_read(FILE *file, report_input *input, report_reader *reader) {
  reader->file = file;
  start_parse(input, &reader->parser);
  start_decode(&reader->decoder);
  reader->lines = line_splitter{};
  reader->in_first_line = true;
  reader->nul_in_first_line = false;
  reader->done = false;
}

static void take_text(report_reader *reader, std::string_view rest) {
  if (reader->in_first_line) {
    size_t end = rest.find_first_of("\r\n");
    reader->nul_in_first_line = reader->nul_in_first_line || rest.substr(0, end).find('\0') != rest.npos;
    reader->in_first_line = end == rest.npos;
  }
  split_lines(&reader->lines, rest, &reader->parser);
}

int read_chunk(report_reader *reader, std::string *why) {
  errno = 0;
  size_t got = fread(reader->chunk, 1, sizeof reader->chunk, reader->file);
  reader->text.clear();
  if (got > 0) {
    decode_text(&reader->decoder, std::string_view(reader->chunk, got), &reader->text);
    take_text(reader, reader->text);
    return 0;
  }
  if (ferror(reader->file)) {
    *why = strerror(errno != 0 ? errno : EIO);
    return -1;
  }
  finish_decode(&reader->decoder, &reader->text);
  take_text(reader, reader->text);
  finish_lines(&reader->lines, &reader->parser);
  reader->done = true;
  return 0;
}

std::string what_was_found(const report_reader *reader) {
  return reader->nul_in_first_line ? "not text: NUL bytes in the first line" : "";
}

int parse_file(FILE *file, report_input *input, std::string *why, std::string *found) {
  auto reader = std::make_unique<report_reader>();
  start_read(file, input, reader.get());
  while (!reader->done)
    if (read_chunk(reader.get(), why) != 0) return -1;
  if (found != nullptr) *found = what_was_found(reader.get());
  return 0;
}

int expected_rows(const report_drive *drive, bool random) {
  return random ? random_passes(drive->n_blocks) : sequential_steps;
}

bool is_cut_short(const report_drive *drive, std::string *why) {
  const report_table *seq = &drive->sequential, *rnd = &drive->random;
  bool no_tables = !seq->heading_seen && !seq->header_seen && !rnd->heading_seen && !rnd->header_seen;
  if (drive->not_opened || (drive->n_blocks == 0 && no_tables)) return false;
  std::string text;
  // A sequential heading without its header is blockmeter's own doing (its
  // buffer could not be allocated); the run goes on with the random table.
  int seq_rows = (int)seq->rows.size(), rnd_rows = (int)rnd->rows.size();
  if (seq->header_seen && seq_rows < expected_rows(drive, false))
    text = "sequential table: " + std::to_string(seq_rows) + " of " +
           std::to_string(expected_rows(drive, false)) + " rows";
  if (!rnd->header_seen)
    text += std::string(text.empty() ? "" : ", ") + (no_tables ? "no tables" : "no random table");
  else if (rnd_rows < expected_rows(drive, true))
    text += std::string(text.empty() ? "" : ", ") + "random table: " + std::to_string(rnd_rows) + " of " +
            std::to_string(expected_rows(drive, true)) + " rows";
  if (why != nullptr) *why = text;
  return !text.empty();
}
