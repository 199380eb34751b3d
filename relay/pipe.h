// Anonymous pipes and the process's standard handles, read and written with
// the system's own calls (no buffering of the C library in between).
#pragma once

#include <cstddef>
#include <cstdint>

// An OS handle: a HANDLE on Windows, a file descriptor on POSIX.
using os_handle = intptr_t;

struct pipe_ends {
  os_handle read_end;
  os_handle write_end;
};

// Creates an anonymous pipe with the system's default buffer size and the
// process's default security (on Windows, no access list that would let any
// local account open it). Neither end is inherited by a child unless
// start_child (child.h) hands it over. Returns 0, or -1 when the pipe cannot
// be created: *pipe is then unchanged and *error holds the system's error code
// (errno, or GetLastError() on Windows) for describe_system_error.
int create_pipe(pipe_ends *pipe, int *error);

enum std_stream { std_input = 0, std_output = 1, std_error = 2 };

// The process's own standard input, output or error handle, as it is: possibly
// not valid when the process was started without one.
os_handle std_handle(std_stream which);

// Reads once, at most size bytes: waits until some bytes are there or every
// writing end is closed, and takes what is there. Returns the number of bytes
// read; 0 at end of input and on any failure.
size_t read_once(os_handle handle, void *buffer, size_t size);

// Writes size bytes with one call. Returns the number of bytes written; 0 on
// failure, including a pipe whose reading ends are all closed (once
// ignore_broken_pipes has run, that never ends the process with a signal).
size_t write_once(os_handle handle, const void *buffer, size_t size);

// Makes a write into a pipe whose reading ends are all closed fail, as it does
// on Windows, instead of ending the process (POSIX: SIGPIPE is ignored from
// now on; a child started by start_child gets the default back). Called once,
// at the start of a program that writes into pipes.
void ignore_broken_pipes();

// Closes a handle; failures are ignored.
void close_handle(os_handle handle);
