// blockmeter-report: reads blockmeter's standard output and reports its drives
// as a summary, CSV, JSON, an SVG of both curves, or an HTML page.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "binary_stdio.h"
#include "output.h"
#include "report.h"
#include "standard_streams.h"

constexpr int exit_reported = 0;
constexpr int exit_failed = 1;  // an input unreadable or without results, or the report not written
constexpr int exit_usage = 2;

constexpr const char *usage_text =
    "Usage: blockmeter-report [--csv | --json | --svg | --html] [-o FILE] [FILE...]\n"
    "       blockmeter-report --help | --version\n"
    "\n"
    "Reads blockmeter's standard output from each FILE (from standard input when\n"
    "none is named, or for -) and reports every drive in it. By default a short\n"
    "summary per drive: its geometry, the sequential peak, the per-read overhead\n"
    "and transfer rate fitted over the sequential rows, and the time per random\n"
    "read over the widest and the narrowest range.\n"
    "\n"
    "  --csv              one line per table row (RFC 4180)\n"
    "  --json             one JSON document: drives, rows and figures\n"
    "  --svg              an SVG image of both curves, one line per drive\n"
    "  --html             a page with the charts, the figures and the rows\n"
    "  -o, --output FILE  write the report to FILE, not to standard output\n"
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
// removed; one that was there before (a device, say) is left alone. A
// standard output that was closed at start is a failed write. Returns false
// after saying why the report could not be written.
static bool write_report(const char *path, const std::string &report, bool stdout_open) {
  std::error_code ignored;
  bool made_here = path != nullptr && !std::filesystem::exists(path, ignored);
  FILE *file = path == nullptr ? (stdout_open ? stdout : nullptr) : fopen(path, "wb");
  int error = file != nullptr ? 0 : path == nullptr ? EBADF : errno;
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
  std::vector<report_input> inputs(options.files.size());
  bool all_read = true;
  for (size_t i = 0; i < options.files.size(); ++i)
    all_read = read_input(options.files[i], &inputs[i]) && all_read;
  if (!all_read) return exit_failed;

  std::string report;
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
  return write_report(options.output, report, stdout_open) ? exit_reported : exit_failed;
}
