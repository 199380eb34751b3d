// How blockmeter-report tells what went wrong, or what to know: one line on
// standard error per failure or note, naming what it is about, its outside
// text made safe for a terminal.
#pragma once

#include <string>

// An input as messages name it: "standard input" for "-", else the name.
std::string input_name(const std::string &name);

// "blockmeter-report: SUBJECT: TEXT" on standard error; both may hold
// outside text, written as terminal_text writes it.
void tell(const std::string &subject, const std::string &text);

// A wrong command line: "blockmeter-report: TEXT", and where to read how to
// write one.
void tell_usage(const std::string &text);
