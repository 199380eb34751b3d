// Scheduling priority of the running program.
#pragma once

// Asks for the highest priority the system gives a benchmark of a device for
// the process (and its calling thread): on Windows the real-time priority
// class and the highest thread priority; on Linux nice -20 and the real-time
// I/O class, since real-time CPU scheduling slows the reads themselves there.
// A refusal is not reported: the program runs at what it gets.
void raise_priority();
