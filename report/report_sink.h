// Where a report's text goes while it is made: kept in text, and moved to
// file whenever it has grown past sink_drain_bytes, so that a long report
// never needs its whole length in memory.
#pragma once

#include <cstdio>
#include <string>

struct report_sink {
  std::string text;      // made and not yet written
  FILE *file = nullptr;  // null: text keeps the whole report
  int error = 0;         // errno of the first write that failed; 0 while none did
};
constexpr size_t sink_drain_bytes = 1 << 16;

// Moves the text to the file when it holds sink_drain_bytes or more, or, with
// all, whatever it holds. Without a file, or after a failed write, it only
// clears what can no longer be written.
void drain_sink(report_sink *sink, bool all);
