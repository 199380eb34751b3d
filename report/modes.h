// What blockmeter-report does once its command line is read: the report of
// every drive of its inputs, or the comparison of one input's runs with each
// other's. Each mode reads every input, makes the report in the form named
// and writes it whole where it goes (report_output.h), or not at all.
#pragma once

#include <vector>

#include "forms.h"

struct report_options {
  const report_form *form = default_form();
  const char *output = nullptr;  // null: standard output
  bool compare = false;
  double alpha = default_alpha;
  row_metric metric = metric_mean;  // what --compare tests of each run's row
  std::vector<const char *> files;  // "-" for standard input; never empty
};

// Each returns 0, or -1 after telling on standard error why; *wrong_output is
// set when the reason is the command line's: an output no report may go to
// (a block device, standard input). stdout_open says whether standard output
// was open at start.
int report_drives(const report_options *options, bool stdout_open, bool *wrong_output);
int compare_drives(const report_options *options, bool stdout_open, bool *wrong_output);
