// The line that shows, while a row is measured, that a run is alive: drawn
// on standard error only when that is a terminal, before the row's first
// tick reading, and erased after its second, before anything else is
// printed. Where standard error is a file or a pipe, nothing of it is written.
#pragma once

// Starts the progress of root's measurement: the time so far counts from
// now. Asks whether standard error is a terminal, and how wide.
void start_progress(const char *root);

// On a terminal, draws "blockmeter: ROOT: ROW (row NUMBER of ROWS; L rows
// left), T so far" (T as "S s", "M min S s" or "H h M min S s", from the
// tick) without a line end, cut short of the terminal's last column so that
// it never wraps. root is shown with its control characters escaped
// (terminal_text).
void show_progress(const char *row, int number, int rows);

// Erases the line show_progress drew: "\r", blanks over it, "\r". Nothing
// when none shows.
void erase_progress();
