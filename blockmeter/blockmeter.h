// The benchmark driver: runs both read tests on each drive named.
#pragma once

// Queries, prints and opens the drive at root, says on standard error which
// device its reads reach and warns where they would not show the device's
// speed, runs the sequential and the random test on it and closes it; root
// is printed with its control characters escaped (terminal_text). Returns 0
// when it was measured in full: both tests ran, every buffer was allocated
// and no read failed. Returns -1 when root names no volume here, its geometry
// cannot be read, it has no blocks, its volume cannot be opened, or a test did
// not measure in full (the reason then goes to standard error), or standard
// output took no more lines.
int test_hdd(const char *root);

// Says on standard error that standard output failed for the reason code
// (an errno value): "blockmeter: cannot write to standard output: REASON".
// Returns the exit status for it, -1.
int fail_standard_output(int code);

// The whole program. A lone --help, -h (or the system's own help option)
// prints the usage, a lone --version the name and version; both return 0.
// Otherwise every argument is a root: banner, priority, then every drive named
// on the command line in order (or the system drive when none is), stopping
// at the first line standard output does not take. Returns the exit status: 0
// when every drive was measured in full and standard output took every line,
// else -1.
int run_blockmeter(int argc, char **argv);
