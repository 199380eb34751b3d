// The process's standard input, output and error.
#pragma once

// Makes sure standard input, output and error are open, on the null device
// where one is not, so that nothing the program opens later (a volume, a pipe)
// can become one of them by taking its free place. Called once, first thing in
// main. Nothing to do on Windows, where handles have no such places.
void open_standard_streams();
