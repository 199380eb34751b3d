#include "terminal.h"

#include "fakes.h"

int fake_terminal_columns = 0;

int standard_error_columns() { return fake_terminal_columns; }
