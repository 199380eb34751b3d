// blockmeter-report: reads blockmeter's standard output and reports its drives
// as a summary, CSV, JSON, an SVG of both curves, or an HTML page, or
// compares the runs of one drive with another's. Here the command line is
// read; modes.h does what it asks.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "binary_stdio.h"
#include "messages.h"
#include "modes.h"
#include "standard_streams.h"

constexpr int exit_reported = 0;
constexpr int exit_failed = 1;  // an input unreadable or without results, or the report not written
constexpr int exit_usage = 2;

constexpr const char *usage_text =
    "Usage: blockmeter-report [--csv | --json | --svg | --html] [-o FILE] [FILE...]\n"
    "       blockmeter-report --compare [--alpha A] [--metric M] [FORMAT] [-o FILE] BASE NEW...\n"
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
    "BASE row by row, rows paired by their bytes (the median time per read of each\n"
    "side, the change in per cent and the p-value of a two-sided Mann-Whitney U\n"
    "test; ~ where the change cannot be told from the noise of the runs), and per\n"
    "table as a whole (a permutation test of whole runs: one verdict whose false\n"
    "alarms are at alpha). Make 5 or more runs a side.\n"
    "\n"
    "  --csv              one line per table row (RFC 4180)\n"
    "  --json             one JSON document: drives, rows and figures\n"
    "  --svg              an SVG image of both curves, one line per drive\n"
    "  --html             a page with the charts, the figures and the rows\n"
    "  -o, --output FILE  write the report to FILE, not to standard output\n"
    "  --compare          compare the runs of BASE with those of each NEW\n"
    "  --alpha A          with --compare, the p-value under which a change is shown\n"
    "                     (default 0.05)\n"
    "  --metric M         with --compare, what is compared of each run's row: mean\n"
    "                     (its time per read, the default), or p50 or p99 of the\n"
    "                     times of its single reads, where blockmeter printed them\n"
    "\n"
    "Rows under 100 ms are coarse (the 1 ms tick is over 1 % of their time); the\n"
    "per-drive figures leave them out, and rows whose reads failed.\n"
    "\n"
    "Exit status: 0 when the report was written (a run cut short is reported as\n"
    "far as it goes, with a note on standard error); 1 when an input cannot be\n"
    "read or holds no blockmeter results, or the report cannot be written; 2 for\n"
    "a wrong command line.\n";

// What the command line asks besides a report.
constexpr int ask_report = 0, ask_help = 1, ask_version = 2;

// Fills *options from the command line, and *asked with what it asks.
// Returns 0, or -1 with *why saying what is wrong with it.
static int parse_options(int argc, char **argv, report_options *options, int *asked, std::string *why) {
  bool only_files = false, output_named = false, alpha_given = false, metric_given = false,
       form_named = false;
  *asked = ask_report;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (only_files || arg == "-" || arg.empty() || arg[0] != '-') {
      options->files.push_back(argv[i]);
      continue;
    }
    if (arg == "--") {
      only_files = true;
    } else if (arg == "--help" || arg == "-h") {
      *asked = ask_help;
      return 0;
    } else if (arg == "--version") {
      *asked = ask_version;
      return 0;
    } else if (arg == "--compare") {
      options->compare = true;
    } else if (arg == "--alpha" || arg.starts_with("--alpha=")) {
      std::string value = arg.starts_with("--alpha=") ? arg.substr(strlen("--alpha="))
                          : i + 1 < argc              ? argv[++i]
                                                      : "";
      char *end = nullptr;
      alpha_given = true;
      options->alpha = strtod(value.c_str(), &end);
      if (value.empty() || *end != '\0' || !(options->alpha > 0 && options->alpha < 1)) {
        *why = "--alpha needs a number between 0 and 1, not '" + value + "'";
        return -1;
      }
    } else if (arg == "--metric" || arg.starts_with("--metric=")) {
      std::string value = arg.starts_with("--metric=") ? arg.substr(strlen("--metric="))
                          : i + 1 < argc               ? argv[++i]
                                                       : "";
      metric_given = true;
      if (find_metric(value, &options->metric) != 0) {
        *why = "--metric needs mean, p50 or p99, not '" + value + "'";
        return -1;
      }
    } else if (arg == "-o" || arg == "--output" || arg.starts_with("--output=")) {
      if (output_named) {
        *why = "the output is named twice";
        return -1;
      }
      output_named = true;
      if (arg.starts_with("--output=")) {
        options->output = argv[i] + strlen("--output=");
      } else if (i + 1 < argc) {
        options->output = argv[++i];
      } else {
        *why = arg + " needs a file name";
        return -1;
      }
      if (*options->output == '\0') {
        *why = "the output file name is empty";
        return -1;
      }
      if (strcmp(options->output, "-") == 0) options->output = nullptr;
    } else if (const report_form *form = find_form(arg)) {
      if (form_named && options->form != form) {
        *why = "one format per run: " + arg + " after another";
        return -1;
      }
      options->form = form, form_named = true;
    } else {
      *why = "unknown option " + arg;
      return -1;
    }
  }
  if (alpha_given && !options->compare) {
    *why = "--alpha is for --compare alone";
    return -1;
  }
  if (metric_given && !options->compare) {
    *why = "--metric is for --compare alone";
    return -1;
  }
  if (options->compare && options->files.size() < 2) {
    *why = "--compare needs a BASE file and at least one NEW file";
    return -1;
  }
  if (options->files.empty()) options->files.push_back("-");
  // Standard input can be read once: a second "-" would find it empty.
  if (std::count_if(options->files.begin(), options->files.end(),
                    [](const char *f) { return strcmp(f, "-") == 0; }) > 1) {
    *why = "standard input (-) is named twice; it can be read once";
    return -1;
  }
  // Every input is read before the output is opened, but an input named as
  // the output is still refused: the report would replace what it reads.
  if (options->output != nullptr)
    for (const char *file : options->files) {
      std::error_code error;
      if (strcmp(file, "-") != 0 && std::filesystem::equivalent(options->output, file, error)) {
        *why = std::string("the output ") + options->output + " is an input";
        return -1;
      }
    }
  return 0;
}

int main(int argc, char **argv) {
  bool stdout_open = open_standard_streams();
  set_binary_stdio();
  report_options options;
  int asked = ask_report;
  std::string why;
  if (parse_options(argc, argv, &options, &asked, &why) != 0) {
    tell_usage(why);
    return exit_usage;
  }
  if (asked == ask_help) {
    fputs(usage_text, stdout);
    return exit_reported;
  }
  if (asked == ask_version) {
    puts("blockmeter-report " BLOCKMETER_VERSION);
    return exit_reported;
  }
  bool wrong_output = false;
  int status = options.compare ? compare_drives(&options, stdout_open, &wrong_output)
                               : report_drives(&options, stdout_open, &wrong_output);
  if (status == 0) return exit_reported;
  return wrong_output ? exit_usage : exit_failed;
}
