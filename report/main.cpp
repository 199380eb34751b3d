// blockmeter-report: reads blockmeter's standard output and reports its drives
// as a summary, CSV, JSON, an SVG of both curves, or an HTML page.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "binary_stdio.h"
#include "compare.h"
#include "output.h"
#include "output_compare.h"
#include "report.h"
#include "standard_streams.h"

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
    "size and block count are runs of one drive, in one file or several: they are\n"
    "shown once, row by row as the median over the runs with its spread.\n"
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
  fprintf(stderr, "blockmeter-report: %s\nTry 'blockmeter-report --help'.\n", plain_text(message).c_str());
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
  bool only_files = false, output_named = false;
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
  if (options->compare && options->files.size() < 2)
    return usage_error("--compare needs a BASE file and at least one NEW file");
  if (options->files.empty()) options->files.push_back("-");
  return -1;
}

static std::string shown_name(const char *name) {
  return strcmp(name, "-") == 0 ? std::string("standard input") : plain_text(name);
}

// Reads and parses one input. Returns false after saying why it gave nothing.
static bool read_input(const char *name, report_input *input) {
  input->name = name;
  bool from_stdin = strcmp(name, "-") == 0;
  FILE *file = from_stdin ? stdin : fopen(name, "rb");
  int error = file == nullptr ? errno : parse_file(file, input);
  if (file != nullptr && !from_stdin) fclose(file);
  if (error != 0) {
    fprintf(stderr, "blockmeter-report: %s: %s\n", shown_name(name).c_str(), strerror(error));
    return false;
  }
  if (input->drives.empty()) {
    fprintf(stderr, "blockmeter-report: %s: no blockmeter results found\n", shown_name(name).c_str());
    return false;
  }
  for (const report_drive &drive : input->drives) {
    std::string why;
    if (is_cut_short(&drive, &why))
      fprintf(stderr,
              "blockmeter-report: %s: drive %s: the run was cut short (%s); reported as far as it goes\n",
              shown_name(name).c_str(), plain_text(drive.root).c_str(), why.c_str());
  }
  return true;
}

// Writes the report whole. A file this run made and could not fill is
// removed; one that was there before (a device, say) is left alone. Returns
// false after saying why the report could not be written.
static bool write_report(const char *path, const std::string &report) {
  std::error_code ignored;
  bool made_here = path != nullptr && !std::filesystem::exists(path, ignored);
  FILE *file = path == nullptr ? stdout : fopen(path, "wb");
  int error = file == nullptr ? errno : 0;
  if (file != nullptr) {
    errno = 0;
    bool written = fwrite(report.data(), 1, report.size(), file) == report.size();
    error = written ? 0 : errno != 0 ? errno : EIO;
    // Standard output stays open; flushing it is what shows a failed write.
    if ((file == stdout ? fflush(stdout) : fclose(file)) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  }
  if (error == 0) return true;
  fprintf(stderr, "blockmeter-report: %s: cannot write the report: %s\n",
          path == nullptr ? "standard output" : plain_text(path).c_str(), strerror(error));
  if (file != nullptr && made_here) remove(path);
  return false;
}

// Compares the runs of the first input with those of each other. Returns
// false after saying which input cannot be compared and why.
static bool write_comparison(const report_options *options, const std::vector<report_input> *inputs,
                             report_sink *out) {
  std::vector<compare_side> sides(inputs->size());
  bool all_sides = true;
  for (size_t i = 0; i < inputs->size(); ++i) {
    std::string problem;
    if (!make_compare_side(&(*inputs)[i], &sides[i], &problem)) {
      fprintf(stderr, "blockmeter-report: %s: cannot compare: %s\n", shown_name(options->files[i]).c_str(),
              plain_text(problem).c_str());
      all_sides = false;
    }
  }
  if (!all_sides) return false;
  std::vector<comparison> comparisons(sides.size() - 1);
  for (size_t i = 1; i < sides.size(); ++i) {
    comparison *c = &comparisons[i - 1];
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
  switch (options->format) {
    case format_summary:
      write_compare_text(&comparisons, options->alpha, out);
      break;
    case format_csv:
      write_compare_csv(&comparisons, out);
      break;
    case format_json:
      write_compare_json(&comparisons, options->alpha, out);
      break;
    case format_svg:
      write_compare_svg(&comparisons, out);
      break;
    case format_html:
      write_compare_html(&comparisons, options->alpha, out);
      break;
  }
  return true;
}

int main(int argc, char **argv) {
  open_standard_streams();
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
  std::vector<report_input> inputs(options.files.size());
  bool all_read = true;
  for (size_t i = 0; i < options.files.size(); ++i)
    all_read = read_input(options.files[i], &inputs[i]) && all_read;
  if (!all_read) return exit_failed;

  report_sink report;
  if (options.compare) {
    if (!write_comparison(&options, &inputs, &report)) return exit_failed;
    return write_report(options.output, report.text) ? exit_reported : exit_failed;
  }
  switch (options.format) {
    case format_summary:
      write_summary(&inputs, &report);
      break;
    case format_csv:
      write_csv(&inputs, &report);
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
  return write_report(options.output, report.text) ? exit_reported : exit_failed;
}
