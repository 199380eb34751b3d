// Where a report's text goes while it is made: kept in text, and moved to
// file whenever it has grown past sink_drain_bytes, so that a long report
// never needs its whole length in memory.
#pragma once

#include <cstdio>
#include <string>

struct report_sink {
  std::string text;      // made and not yet written
  FILE *file = nullptr;  // null: text keeps the whole report
};
constexpr size_t sink_drain_bytes = 1 << 16;

// Moves the text to the file when it holds sink_drain_bytes or more, or, with
// all, whatever it holds; without a file, keeps it. Returns 0, or -1 with
// *why set to the system's words when the write failed (the text is then
// dropped: the report cannot be completed, and a writer stops there).
int drain_sink(report_sink *sink, bool all, std::string *why);
