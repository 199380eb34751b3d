// Standard error as a terminal, where a line can be drawn and erased in place.
#pragma once

// The width in columns of the terminal (on Windows, the console) that
// standard error writes to; 80 when it is one whose width the system does
// not tell. 0 when standard error is no terminal: a file, a pipe, the null
// device, or closed.
int standard_error_columns();
