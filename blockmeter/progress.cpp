#include "progress.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "terminal.h"
#include "terminal_text.h"
#include "tick.h"

static std::string progress_root;
static int progress_columns = 0;
static uint32_t progress_start = 0;
static size_t shown_bytes = 0;  // of the line on the terminal now

void start_progress(const char *root) {
  progress_root = terminal_text(root);
  progress_columns = standard_error_columns();
  // Only a line that is drawn needs the time: elsewhere the tick is not read.
  if (progress_columns > 0) progress_start = read_tick();
}

static std::string describe_elapsed(uint32_t ms) {
  uint32_t s = ms / 1000, min = s / 60, h = min / 60;
  char text[64];
  if (h > 0)
    snprintf(text, sizeof text, "%u h %u min %u s", h, min % 60, s % 60);
  else if (min > 0)
    snprintf(text, sizeof text, "%u min %u s", min, s % 60);
  else
    snprintf(text, sizeof text, "%u s", s);
  return text;
}

void show_progress(const char *row, int number, int rows) {
  if (progress_columns <= 0) return;
  int left = rows - number;
  std::string line = "blockmeter: " + progress_root + ": " + row + " (row " + std::to_string(number) +
                     " of " + std::to_string(rows) + "; " + std::to_string(left) +
                     (left == 1 ? " row" : " rows") + " left), " +
                     describe_elapsed(read_tick() - progress_start) + " so far";
  // A line that wrapped could not be taken back by a carriage return. Cut on
  // a character's first byte, so that no half of one is left on the screen.
  size_t fits = (size_t)(progress_columns - 1);
  if (line.size() > fits) {
    while (fits > 0 && ((unsigned char)line[fits] & 0xC0) == 0x80) --fits;
    line.resize(fits);
  }
  fwrite(line.data(), 1, line.size(), stderr);
  shown_bytes = line.size();
}

// Blanks and carriage returns, not an escape sequence: a Windows console may
// not take those.
void erase_progress() {
  if (shown_bytes == 0) return;
  std::string blank = "\r" + std::string(shown_bytes, ' ') + "\r";
  fwrite(blank.data(), 1, blank.size(), stderr);
  shown_bytes = 0;
}
