// The benchmark driver: runs both read tests on each drive named.
#pragma once

// Queries, prints and opens the drive at root, runs the sequential and the
// random test on it and closes it. Returns 0 when both tests were run, -1 when
// the drive's geometry cannot be read or its volume cannot be opened (the
// reason then goes to standard error).
int test_hdd(const char *root);

// The whole program. A lone --help, -h (or the system's own help option)
// prints the usage, a lone --version the name and version; both return 0.
// Otherwise every argument is a root: banner, priority, then every drive named on the command
// line in order (or the system drive when none is). Returns the exit status:
// 0 when every drive was tested in full, else -1.
int run_blockmeter(int argc, char **argv);
