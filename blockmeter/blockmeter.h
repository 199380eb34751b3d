// The benchmark driver: runs both read tests on each drive named.
#pragma once

// Queries, prints and opens the drive at root, runs the sequential and the
// random test on it and closes it. Returns 0 when it was measured in full:
// both tests ran, every buffer was allocated and no read failed. Returns -1
// when root names no volume here, its geometry cannot be read, it has no
// blocks, its volume cannot be opened, or a test did not measure in full (the
// reason then goes to standard error).
int test_hdd(const char *root);

// The whole program. A lone --help, -h (or the system's own help option)
// prints the usage, a lone --version the name and version; both return 0.
// Otherwise every argument is a root: banner, priority, then every drive named
// on the command line in order (or the system drive when none is). Returns the
// exit status: 0 when every drive was measured in full and standard output
// took every line, else -1.
int run_blockmeter(int argc, char **argv);
