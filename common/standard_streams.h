// The process's standard input, output and error.
#pragma once

// Makes sure standard input, output and error are open, on the null device
// where one is not, so that nothing the program opens later (a volume, a pipe)
// can become one of them by taking its free place. Called once, first thing in
// main. Returns false when standard output was closed at start (on Windows:
// the process was started without a standard output handle): what the program
// writes there is lost, and a program whose output is its result treats that
// as a failed write.
bool open_standard_streams();
