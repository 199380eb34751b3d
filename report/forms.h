// The forms a report can take, one entry each: the option that names it and
// what writes it, of drives and of a comparison. A new form is one entry
// here; the command line and both modes take it from this list.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "compare.h"
#include "report.h"
#include "report_sink.h"

struct report_form {
  const char *option;  // "--csv"; null for the summary, the default
  // The report of the drives of every input. Returns 0, or -1 with *why set
  // when the sink could not take it.
  int (*write)(const std::vector<report_input> *inputs, report_sink *out, std::string *why);
  // A form made a drive at a time, as its inputs are read, so that memory
  // does not grow with them: its head, then each drive once it is complete.
  // Null for the forms that need every drive at once.
  void (*start_stream)(report_sink *out);
  int (*write_drive)(const report_input *input, const report_drive *drive, report_sink *out,
                     std::string *why);
  // The comparison of BASE with each NEW at alpha, as write.
  int (*write_comparison)(const std::vector<comparison> *comparisons, double alpha, report_sink *out,
                          std::string *why);
  bool tells_reach;  // the comparison says in the report itself when alpha cannot be reached
};

extern const report_form report_forms[];
extern const size_t report_form_count;

// The summary, the form when none is named.
const report_form *default_form();

// The form option names ("--csv"), or null.
const report_form *find_form(const std::string &option);
