// blockmeter-report: reads blockmeter's standard output and reports its drives
// as a summary, CSV, JSON, an SVG of both curves, or an HTML page.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "binary_stdio.h"
#include "compare.h"
#include "output.h"
#include "numbers.h"
#include "output_compare.h"
#include "report.h"
#include "report_output.h"
#include "standard_streams.h"
#include "terminal_text.h"

constexpr int exit_reported = 0;
constexpr int exit_failed = 1;  // an input unreadable or without results, or the report not written
constexpr int exit_usage = 2;

constexpr const char *usage_text =
    "Usage: blockmeter-report [--csv | --json | --svg | --html] [-o FILE] [FILE...]\n"
    "       blockmeter-report --compare [--alpha A] [FORMAT] [-o FILE] BASE NEW...\n"
    "       blockmeter-report --help | --version\n"
    "\n"
    "Reads blockmeter's standard output from each FILE (from standard input when\n"
    "none is named, or for -) and reports every drive in it. By default a short\n"
    "summary per drive: its geometry, the sequential peak, the per-read overhead\n"
    "and transfer rate fitted over the sequential rows, and the time per random\n"
    "read over the widest and the narrowest range. Drives with the same root, block\n"
    "size and block count, that read the same device, are runs of one drive, in\n"
    "one file or several: they are shown once, row by row as the median over the\n"
    "runs with its spread.\n"
    "\n"
    "With --compare, each file holds runs of one drive: every NEW is compared with\n"
    "BASE row by row (the median time per read of each side, the change in per cent\n"
    "and the p-value of a two-sided Mann-Whitney U test; ~ where the change cannot\n"
    "be told from the noise of the runs). Make 5 or more runs a side.\n"
    "\n"
    "  --csv              one line per table row (RFC 4180)\n"
    "  --json             one JSON document: drives, rows and figures\n"
    "  --svg              an SVG image of both curves, one line per drive\n"
    "  --html             a page with the charts, the figures and the rows\n"
    "  -o, --output FILE  write the report to FILE, not to standard output\n"
    "  --compare          compare the runs of BASE with those of each NEW\n"
    "  --alpha A          the p-value under which a change is shown (default 0.05)\n"
    "\n"
    "Rows under 100 ms are coarse (the 1 ms tick is over 1 % of their time); the\n"
    "per-drive figures leave them out, and rows whose reads failed.\n"
    "\n"
    "Exit status: 0 when the report was written (a run cut short is reported as\n"
    "far as it goes, with a note on standard error); 1 when an input cannot be\n"
    "read or holds no blockmeter results, or the report cannot be written; 2 for\n"
    "a wrong command line.\n";

enum report_format { format_summary, format_csv, format_json, format_svg, format_html };

struct report_options {
  report_format format = format_summary;
  bool format_given = false;
  const char *output = nullptr;  // null (or "-" on the command line): standard output
  bool compare = false;
  double alpha = default_alpha;
  std::vector<const char *> files;
};

static int usage_error(const std::string &message) {
  fprintf(stderr, "blockmeter-report: %s\nTry 'blockmeter-report --help'.\n", terminal_text(message).c_str());
  return exit_usage;
}

// Fills *options from the command line. Returns -1 to go on, else the exit
// status (after --help, --version or a wrong command line).
static int parse_options(int argc, char **argv, report_options *options) {
  static const struct {
    const char *name;
    report_format format;
  } formats[] = {
      {"--csv", format_csv}, {"--json", format_json}, {"--svg", format_svg}, {"--html", format_html}};
  bool only_files = false, output_named = false, alpha_given = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (only_files || arg == "-" || arg.empty() || arg[0] != '-') {
      options->files.push_back(argv[i]);
      continue;
    }
    if (arg == "--") {
      only_files = true;
    } else if (arg == "--help" || arg == "-h") {
      fputs(usage_text, stdout);
      return exit_reported;
    } else if (arg == "--version") {
      puts("blockmeter-report " BLOCKMETER_VERSION);
      return exit_reported;
    } else if (arg == "--compare") {
      options->compare = true;
    } else if (arg == "--alpha" || arg.starts_with("--alpha=")) {
      std::string value = arg.starts_with("--alpha=") ? arg.substr(strlen("--alpha=")) : i + 1 < argc ? argv[++i] : "";
      char *end = nullptr;
      alpha_given = true;
      options->alpha = strtod(value.c_str(), &end);
      if (value.empty() || *end != '\0' || !(options->alpha > 0 && options->alpha < 1))
        return usage_error("--alpha needs a number between 0 and 1, not '" + value + "'");
    } else if (arg == "-o" || arg == "--output" || arg.starts_with("--output=")) {
      if (output_named) return usage_error("the output is named twice");
      output_named = true;
      if (arg.starts_with("--output="))
        options->output = argv[i] + strlen("--output=");
      else if (i + 1 < argc)
        options->output = argv[++i];
      else
        return usage_error(arg + " needs a file name");
      if (*options->output == '\0') return usage_error("the output file name is empty");
      if (strcmp(options->output, "-") == 0) options->output = nullptr;
    } else {
      bool known = false;
      for (const auto &format : formats)
        if (arg == format.name) {
          if (options->format_given && options->format != format.format)
            return usage_error("one format per run: " + arg + " after another");
          options->format = format.format, options->format_given = known = true;
        }
      if (!known) return usage_error("unknown option " + arg);
    }
  }
  if (alpha_given && !options->compare) return usage_error("--alpha is for --compare alone");
  if (options->compare && options->files.size() < 2)
    return usage_error("--compare needs a BASE file and at least one NEW file");
  // Standard input can be read once: a second "-" would find it empty.
  if (std::count_if(options->files.begin(), options->files.end(), [](const char *f) { return strcmp(f, "-") == 0; }) > 1)
    return usage_error("standard input (-) is named twice; it can be read once");
  if (options->files.empty()) options->files.push_back("-");
  return -1;
}

static std::string shown_name(const char *name) {
  return strcmp(name, "-") == 0 ? std::string("standard input") : terminal_text(name);
}

static void note_cut_short(const char *name, const report_drive *drive) {
  std::string why;
  if (is_cut_short(drive, &why))
    fprintf(stderr, "blockmeter-report: %s: drive %s: the run was cut short (%s); reported as far as it goes\n",
            shown_name(name).c_str(), terminal_text(drive->root).c_str(), why.c_str());
}

static bool is_stdin(const char *name) { return strcmp(name, "-") == 0; }

static FILE *open_input(const char *name) { return is_stdin(name) ? stdin : fopen(name, "rb"); }

static void close_input(FILE *file) {
  if (file != stdin) fclose(file);
}

// Reads one input a chunk at a time and deals with each drive once it is
// complete: with note, says if its run was cut short; with csv, writes its
// rows there; without keep, drops it, so that memory does not grow with the
// input. *drives counts every drive read; *found says what the input holds
// when it is not text (parse_file). Returns 0, or the system's error code
// when the input could not be opened or read.
static int read_drives(const char *name, report_input *input, bool note, bool keep, report_sink *csv,
                       size_t *drives, std::string *found) {
  FILE *file = open_input(name);
  if (file == nullptr) return errno;
  auto reader = std::make_unique<report_reader>();
  start_read(file, input, reader.get());
  size_t done = 0;
  int status;
  *drives = 0;
  do {
    status = read_chunk(reader.get());
    // Every drive but the last is complete; at the end, the last too.
    size_t complete = input->drives.size() - (status > 0 && !input->drives.empty() ? 1 : 0);
    for (; done < complete; ++done) {
      if (note) note_cut_short(name, &input->drives[done]);
      if (csv != nullptr) write_csv_rows(input, &input->drives[done], csv);
    }
    if (!keep) {
      *drives += done;
      input->drives.erase(input->drives.begin(), input->drives.begin() + (ptrdiff_t)done);
      done = 0;
    }
  } while (status > 0 && (csv == nullptr || csv->error == 0));
  if (keep) *drives = input->drives.size();
  *found = what_was_found(reader.get());
  close_input(file);
  return status < 0 ? -status : 0;
}

// Reads and parses one input, keeping its drives or, without keep, only
// counting them. Returns false after saying why it gave nothing.
static bool read_input(const char *name, report_input *input, bool keep) {
  input->name = name;
  size_t drives = 0;
  std::string found;
  int error = read_drives(name, input, true, keep, nullptr, &drives, &found);
  if (error != 0) {
    fprintf(stderr, "blockmeter-report: %s: %s\n", shown_name(name).c_str(), strerror(error));
    return false;
  }
  if (input->overlong_drive_lines > 0)
    fprintf(stderr,
            "blockmeter-report: %s: %lld drive line%s longer than %zu bytes, more than blockmeter prints: passed "
            "over with the tables after %s\n",
            shown_name(name).c_str(), (long long)input->overlong_drive_lines,
            input->overlong_drive_lines == 1 ? "" : "s", longest_line,
            input->overlong_drive_lines == 1 ? "it" : "them");
  if (drives == 0) {
    fprintf(stderr, "blockmeter-report: %s: no blockmeter results found%s\n", shown_name(name).c_str(),
            found.empty() ? "" : (" (" + found + ")").c_str());
    return false;
  }
  return true;
}

// CSV a drive at a time: each named input is read again, its rows written as
// each of its drives is complete; standard input, which cannot be read
// twice, was kept whole. Returns false after saying why an input could not
// be read again.
static bool stream_csv(const report_options *options, std::vector<report_input> *inputs, report_sink *out) {
  write_csv_header(out);
  for (size_t i = 0; i < inputs->size() && out->error == 0; ++i) {
    report_input *input = &(*inputs)[i];
    const char *name = options->files[i];
    if (is_stdin(name)) {
      for (const report_drive &drive : input->drives) write_csv_rows(input, &drive, out);
      continue;
    }
    size_t drives = 0;
    std::string found;
    int error = read_drives(name, input, false, false, out, &drives, &found);
    if (error != 0) {
      fprintf(stderr, "blockmeter-report: %s: %s\n", shown_name(name).c_str(), strerror(error));
      return false;
    }
  }
  return true;
}

// Opens where the report goes; a standard output that was closed at start
// is a failed write. Returns -1 with sink->file set, else the exit status
// after saying why the report cannot go there.
static int open_output(const char *path, bool stdout_open, report_output *output, report_sink *sink) {
  std::string why;
  if (open_report_output(path, stdout_open, output, &why) == 0) {
    sink->file = output->file;
    return -1;
  }
  if (output->refused) return usage_error(std::string("the output ") + path + " is " + why);
  fprintf(stderr, "blockmeter-report: %s: cannot write the report: %s\n",
          path == nullptr ? "standard output" : terminal_text(path).c_str(), why.c_str());
  return exit_failed;
}

// Writes what the sink still holds and completes the report whole (see
// report_output.h), or gives it up when made is false (a reason was told) or
// a write failed. Returns the exit status.
static int finish_output(const char *path, bool made, report_output *output, report_sink *sink) {
  if (made && number_format_failed()) {
    fprintf(stderr, "blockmeter-report: %s: cannot write the report: a number in it could not be formatted\n",
            path == nullptr ? "standard output" : terminal_text(path).c_str());
    made = false;
    sink->text.clear();
  }
  drain_sink(sink, true);
  std::string why;
  if (made && sink->error == 0 && commit_report_output(output, &why) == 0) return exit_reported;
  if (sink->error != 0) why = strerror(sink->error);
  if (!made || sink->error != 0) abort_report_output(output);
  if (made)
    fprintf(stderr, "blockmeter-report: %s: cannot write the report: %s\n",
            path == nullptr ? "standard output" : terminal_text(path).c_str(), why.c_str());
  return exit_failed;
}

// Compares the runs of the first input with those of each other. Returns
// false after saying which input cannot be compared and why.
static bool compare_inputs(const report_options *options, const std::vector<report_input> *inputs,
                           std::vector<compare_side> *sides_out, std::vector<comparison> *comparisons) {
  std::vector<compare_side> &sides = *sides_out;
  sides.resize(inputs->size());
  bool all_sides = true;
  for (size_t i = 0; i < inputs->size(); ++i) {
    std::string problem;
    if (!make_compare_side(&(*inputs)[i], &sides[i], &problem)) {
      fprintf(stderr, "blockmeter-report: %s: cannot compare: %s\n", shown_name(options->files[i]).c_str(),
              terminal_text(problem).c_str());
      all_sides = false;
    }
  }
  if (!all_sides) return false;
  comparisons->resize(sides.size() - 1);
  for (size_t i = 1; i < sides.size(); ++i) {
    comparison *c = &(*comparisons)[i - 1];
    compare_sides(&sides[0], &sides[i], options->alpha, c);
    std::string pairing = pairing_note(c);
    if (!pairing.empty())
      fprintf(stderr, "blockmeter-report: %s: %s\n", shown_name(options->files[i]).c_str(), pairing.c_str());
    // The text, JSON and page carry it with the rows; the other forms have no place for it.
    bool noted_in_report = options->format != format_csv && options->format != format_svg;
    if (!c->can_reach_alpha && !noted_in_report)
      fprintf(stderr, "blockmeter-report: %s: note: %s\n", shown_name(options->files[i]).c_str(),
              reach_note(c, options->alpha).c_str());
  }
  return true;
}

static void write_comparison(const report_options *options, const std::vector<comparison> *comparisons,
                             report_sink *out) {
  switch (options->format) {
    case format_summary:
      write_compare_text(comparisons, options->alpha, out);
      break;
    case format_csv:
      write_compare_csv(comparisons, out);
      break;
    case format_json:
      write_compare_json(comparisons, options->alpha, out);
      break;
    case format_svg:
      write_compare_svg(comparisons, out);
      break;
    case format_html:
      write_compare_html(comparisons, options->alpha, out);
      break;
  }
}

int main(int argc, char **argv) {
  bool stdout_open = open_standard_streams();
  set_binary_stdio();
  report_options options;
  int status = parse_options(argc, argv, &options);
  if (status >= 0) return status;

  // Reading every input before the output is opened keeps an input named as
  // the output from being emptied first; naming one as both is refused.
  if (options.output != nullptr)
    for (const char *file : options.files) {
      std::error_code error;
      if (strcmp(file, "-") != 0 && std::filesystem::equivalent(options.output, file, error))
        return usage_error(std::string("the output ") + options.output + " is an input");
    }
  // A CSV is made a drive at a time; every other form needs all drives.
  bool streamed = options.format == format_csv && !options.compare;
  std::vector<report_input> inputs(options.files.size());
  bool all_read = true;
  for (size_t i = 0; i < options.files.size(); ++i)
    all_read = read_input(options.files[i], &inputs[i], !streamed || is_stdin(options.files[i])) && all_read;
  if (!all_read) return exit_failed;
  std::vector<compare_side> sides;
  std::vector<comparison> comparisons;
  if (options.compare && !compare_inputs(&options, &inputs, &sides, &comparisons)) return exit_failed;

  report_output output;
  report_sink report;
  status = open_output(options.output, stdout_open, &output, &report);
  if (status >= 0) return status;
  bool made = true;
  if (options.compare) {
    write_comparison(&options, &comparisons, &report);
  } else {
    switch (options.format) {
      case format_summary:
        write_summary(&inputs, &report);
        break;
      case format_csv:
        made = stream_csv(&options, &inputs, &report);
        break;
      case format_json:
        write_json(&inputs, &report);
        break;
      case format_svg:
        write_svg(&inputs, true, &report);
        break;
      case format_html:
        write_html(&inputs, &report);
        break;
    }
  }
  return finish_output(options.output, made, &output, &report);
}
