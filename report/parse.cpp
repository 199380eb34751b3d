#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <memory>

#include "decode_text.h"
#include "report.h"

constexpr int sequential_table_rows = 20;

// Longer than any line blockmeter prints: a root is at most a path (32767
// UTF-16 units on Windows, which UTF-8 can make three bytes each).
constexpr size_t longest_line = 128 * 1024;

constexpr std::string_view info_marker = " information: block_size=";
constexpr std::string_view n_blocks_marker = ", n_blocks=";
constexpr std::string_view failure_marker = "reads failed or came back short";
constexpr size_t most_warnings = 16;
constexpr size_t longest_warning = 4096;
constexpr std::string_view warning_marker = "blockmeter: warning: ";
constexpr std::string_view device_marker = ": reading ";

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

// Headers are compared word by word, so the column widths do not matter.
static bool is_header(std::string_view line, const std::string_view *expected) {
  std::string_view words[6];
  int count = 0;
  if (!split_words(line, words, 6, &count) || count != 6) return false;
  for (int i = 0; i < count; ++i)
    if (words[i] != expected[i]) return false;
  return true;
}

constexpr std::string_view sequential_header[] = {"N", "Blocks", "N", "Reps", "Time,ms", "Speed,MB/s"};
constexpr std::string_view random_header[] = {"Random", "range", "N", "reps", "Time,ms", "Speed,MB/s"};

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
  if (!line.starts_with("drive ")) return 0;
  size_t marker = line.rfind(info_marker);
  if (marker == std::string_view::npos) return 0;
  std::string_view numbers = trim(line.substr(marker + info_marker.size()));
  size_t comma = numbers.find(n_blocks_marker);
  if (comma == std::string_view::npos) return -1;
  *drive = report_drive{};
  // An empty root shares its blank with "drive ": the marker starts at 5.
  if (marker >= 6) drive->root = line.substr(6, marker - 6);
  if (!parse_count(numbers.substr(0, comma), INT_MAX, &drive->block_size) || drive->block_size == 0 ||
      !parse_count(numbers.substr(comma + n_blocks_marker.size()), INT64_MAX, &drive->n_blocks))
    return -1;
  return 1;
}

void start_parse(report_input *input, report_parser *parser) { *parser = {input, false, parse_none, false}; }

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
  if (text == "can't open drive") {
    current->not_opened = true;
    parser->table = parse_none;
  } else if (line.starts_with(warning_marker)) {
    // blockmeter gives a drive a few warnings at most; a text that repeats
    // them without end must not grow the report with it.
    std::string_view warning = trim(line.substr(warning_marker.size())).substr(0, longest_warning);
    if (current->warnings.size() < most_warnings && std::find(current->warnings.begin(), current->warnings.end(),
                                                              warning) == current->warnings.end())
      current->warnings.emplace_back(warning);
  } else if (current->device.empty() && line.starts_with("blockmeter: ") &&
             line.substr(12).starts_with(current->root) &&
             line.substr(12 + current->root.size()).starts_with(device_marker)) {
    current->device = trim(line.substr(12 + current->root.size() + device_marker.size()));
  } else if (text == "Multisector read test" || text == "Random read test") {
    bool random = text[0] == 'R';
    (random ? current->random : current->sequential).heading_seen = true;
    parser->table = parse_none;
  } else if (is_header(text, sequential_header) || is_header(text, random_header)) {
    bool random = is_header(text, random_header);
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
    } else if (after_row && line.starts_with("blockmeter: ") && line.find(failure_marker) != line.npos) {
      table->rows.back().failed_reads = true;
    }
  }
}

void parse_text(std::string_view text, report_input *input) {
  report_parser parser;
  start_parse(input, &parser);
  while (!text.empty()) {
    size_t end = text.find('\n');
    parse_line(&parser, text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
}

void start_read(FILE *file, report_input *input, report_reader *reader) {
  reader->file = file;
  start_parse(input, &reader->parser);
  start_decode(&reader->decoder);
  reader->line.clear();
  reader->in_first_line = true;
  reader->nul_in_first_line = false;
}

// Parses the decoded text. A line is kept up to one byte past the longest;
// one that reaches that length is dropped at its end.
static void take_text(report_reader *reader, std::string_view rest) {
  if (reader->in_first_line) {
    size_t end = rest.find('\n');
    reader->nul_in_first_line = reader->nul_in_first_line || rest.substr(0, end).find('\0') != rest.npos;
    reader->in_first_line = end == rest.npos;
  }
  std::string &line = reader->line;
  for (size_t end; (end = rest.find('\n')) != std::string_view::npos; rest.remove_prefix(end + 1)) {
    line.append(rest.substr(0, std::min(end, longest_line + 1 - line.size())));
    if (line.size() <= longest_line) parse_line(&reader->parser, line);
    line.clear();
  }
  line.append(rest.substr(0, std::min(rest.size(), longest_line + 1 - line.size())));
}

int read_chunk(report_reader *reader) {
  errno = 0;
  size_t got = fread(reader->chunk, 1, sizeof reader->chunk, reader->file);
  reader->text.clear();
  if (got > 0) {
    decode_text(&reader->decoder, std::string_view(reader->chunk, got), &reader->text);
    take_text(reader, reader->text);
    return 1;
  }
  if (ferror(reader->file)) return -(errno != 0 ? errno : EIO);
  finish_decode(&reader->decoder, &reader->text);
  take_text(reader, reader->text);
  if (!reader->line.empty() && reader->line.size() <= longest_line) parse_line(&reader->parser, reader->line);
  reader->line.clear();
  return 0;
}

std::string what_was_found(const report_reader *reader) {
  return reader->nul_in_first_line ? "not text: NUL bytes in the first line" : "";
}

int parse_file(FILE *file, report_input *input, std::string *found) {
  auto reader = std::make_unique<report_reader>();
  start_read(file, input, reader.get());
  int status;
  while ((status = read_chunk(reader.get())) > 0) {
  }
  if (status < 0) return -status;
  if (found != nullptr) *found = what_was_found(reader.get());
  return 0;
}

int expected_rows(const report_drive *drive, bool random) {
  if (!random) return sequential_table_rows;
  int rows = 0;
  for (int64_t range = drive->n_blocks; range > 1; range >>= 1) ++rows;
  return rows;
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
