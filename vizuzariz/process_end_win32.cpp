#include "process_end.h"

#include <stdio.h>
#include <windows.h>

void end_process(int status) {
  // Same reasoning as on POSIX: once the lock is ours no other thread is
  // inside an output call. TerminateProcess, unlike exit() and ExitProcess,
  // runs no library clean-up that could flush or close the stream again.
  _lock_file(stdout);
  fflush(stdout);
  TerminateProcess(GetCurrentProcess(), (UINT)status);
  // Ending the current process does not return; this only satisfies [[noreturn]].
  ExitProcess((UINT)status);
}
