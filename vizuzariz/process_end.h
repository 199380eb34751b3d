// Ending the process from one thread while another may still be writing to
// standard output.
#pragma once

// Takes standard output's lock, writes out what its buffer holds and ends the
// whole process at once with the given status, other threads included. The
// lock is never given back and no exit-time flush runs, so a thread caught in
// the middle of its own output call never has half a line written or a line
// written twice: it is stopped before its call starts or after it ends.
// Exit handlers and static destructors are not run. Never returns.
[[noreturn]] void end_process(int status);
