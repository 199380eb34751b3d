// Child processes started by name from the current directory, with the
// standard handles the caller chooses.
#pragma once

#include <string>

#include "pipe.h"

struct child_stdio {
  os_handle input;
  os_handle output;
  os_handle error;
};

// What is left of a started child: on Windows its process and thread handles;
// on POSIX its process id and 0.
struct child_process {
  os_handle process;
  os_handle thread;
};

// The file that start_child starts for the program NAME, as the system is
// given it: "./NAME" on POSIX, "NAME.exe" on Windows.
std::string child_program_file(const char *name);

// Starts the program NAME from the current directory only (the file above,
// never looked up along the search path), with no arguments, the given
// standard handles, this process's environment and current directory, in a
// console (Windows) or session (POSIX) of its own, so that it has no terminal
// of ours and gets no signals from it. It inherits
// only the three handles in *stdio (on a Windows that refuses a handle list,
// also our other inheritable handles, but never an end from create_pipe).
// Returns 0 with *child filled, or -1 when the program cannot be started
// (missing, not executable): *child is then unchanged and *error holds the
// system's error code (errno, or GetLastError() on Windows).
int start_child(const char *name, const child_stdio *stdio, child_process *child, int *error);

// Closes the child's thread handle, then its process handle (Windows); the
// child keeps running. Nothing to release on POSIX.
void close_child(child_process *child);
