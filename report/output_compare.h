// The comparison of compare.h in the report's forms: a plain-text table per
// table and new input, CSV, JSON, the charts with both sides' bands, and a
// page with the charts and the tables.
#pragma once

#include <string>
#include <vector>

#include "compare.h"
#include "output.h"
#include "report_sink.h"

// Every comparison has the same base; alpha is the p-value under which a
// change was called (the CSV and the charts do not say it). Each returns 0,
// or -1 with *why set when the sink could not take its text.
int write_compare_text(const std::vector<comparison> *comparisons, double alpha, report_sink *out,
                       std::string *why);
int write_compare_csv(const std::vector<comparison> *comparisons, double alpha, report_sink *out,
                      std::string *why);
int write_compare_json(const std::vector<comparison> *comparisons, double alpha, report_sink *out,
                       std::string *why);
int write_compare_svg(const std::vector<comparison> *comparisons, double alpha, report_sink *out,
                      std::string *why);
int write_compare_html(const std::vector<comparison> *comparisons, double alpha, report_sink *out,
                       std::string *why);

// Why a comparison can show no difference at all (the run counts are too
// few for the test to reach alpha), for a note.
std::string reach_note(const comparison *c, double alpha);

// Where the two sides' tables have different numbers of rows, what was
// compared; empty when they match.
std::string pairing_note(const comparison *c);

// Compared by a percentile of the read times: where rows of some runs have
// none, that those runs were left out of them; else empty.
std::string metric_note(const comparison *c);
