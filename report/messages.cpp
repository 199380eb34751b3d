#include "messages.h"

#include <cstdio>

#include "terminal_text.h"

std::string input_name(const std::string &name) { return name == "-" ? std::string("standard input") : name; }

void tell(const std::string &subject, const std::string &text) {
  fprintf(stderr, "blockmeter-report: %s: %s\n", terminal_text(subject).c_str(), terminal_text(text).c_str());
}

void tell_usage(const std::string &text) {
  fprintf(stderr, "blockmeter-report: %s\nTry 'blockmeter-report --help'.\n", terminal_text(text).c_str());
}
