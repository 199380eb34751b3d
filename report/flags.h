// The flags a row can carry, and their words: one set and one order for
// every form, so that "coarse" in the summary is "coarse" in the CSV, the
// JSON and the page.
#pragma once

#include <string>
#include <vector>

constexpr unsigned flag_coarse = 1u << 0;            // measured in under coarse_below_ms
constexpr unsigned flag_failed_reads = 1u << 1;      // blockmeter reported failed or short reads there
constexpr unsigned flag_suspect = 1u << 2;           // of a drive blockmeter warned of
constexpr unsigned flag_unpaired = 1u << 3;          // compared: the other side read no row of its bytes
constexpr unsigned flag_medians_disagree = 1u << 4;  // compared: the test and the medians point apart
constexpr unsigned flag_too_few_runs = 1u << 5;      // compared: too few runs measured it to reach alpha

// A row's own flags: coarse, failed reads, or both.
unsigned row_flags(bool coarse, bool failed_reads);

// The words of flags in their order: "coarse", "failed-reads", "suspect",
// "unpaired", "medians-disagree", "too-few-runs".
std::vector<std::string> flag_words(unsigned flags);

// The words separated by blanks: "coarse failed-reads"; "" for none.
std::string flag_text(unsigned flags);
