// Scheduling priority of the running program.
#pragma once

// Asks for the highest (real-time) priority for the process and its calling
// thread. A refusal is not reported: the program runs at what it gets.
void raise_priority();
