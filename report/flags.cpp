#include "flags.h"

static const struct {
  unsigned flag;
  const char *word;
} flag_names[] = {{flag_coarse, "coarse"},
                  {flag_failed_reads, "failed-reads"},
                  {flag_suspect, "suspect"},
                  {flag_unpaired, "unpaired"},
                  {flag_medians_disagree, "medians-disagree"},
                  {flag_too_few_runs, "too-few-runs"}};

unsigned row_flags(bool coarse, bool failed_reads) {
  return (coarse ? flag_coarse : 0) | (failed_reads ? flag_failed_reads : 0);
}

std::vector<std::string> flag_words(unsigned flags) {
  std::vector<std::string> words;
  for (const auto &name : flag_names)
    if (flags & name.flag) words.push_back(name.word);
  return words;
}

std::string flag_text(unsigned flags) {
  std::string text;
  for (const std::string &word : flag_words(flags)) text += (text.empty() ? "" : " ") + word;
  return text;
}
