// Waiting for one key on the process's own console or terminal.
#pragma once

// Reads one key without echo and without waiting for Enter, and leaves the
// terminal as it was (also when a signal ends the process during the wait).
// Returns at once when the process has no console or terminal: a process
// started without one never waits.
void wait_key();
