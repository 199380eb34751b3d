// Linux and glibc: pipe2 and its O_CLOEXEC.
#include "pipe.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

int create_pipe(pipe_ends *pipe, int *error) {
  int ends[2];
  // Close-on-exec: a child gets an end only as one of its standard handles.
  if (pipe2(ends, O_CLOEXEC) != 0) {
    *error = errno;
    return -1;
  }
  pipe->read_end = ends[0];
  pipe->write_end = ends[1];
  return 0;
}

os_handle std_handle(std_stream which) { return which; }

size_t read_once(os_handle handle, void *buffer, size_t size) {
  ssize_t count;
  // An interrupted wait has taken no bytes yet, so waiting again is still one read.
  do count = read((int)handle, buffer, size);
  while (count < 0 && errno == EINTR);
  return count > 0 ? (size_t)count : 0;
}

size_t write_once(os_handle handle, const void *buffer, size_t size) {
  ssize_t count;
  do count = write((int)handle, buffer, size);
  while (count < 0 && errno == EINTR);
  return count > 0 ? (size_t)count : 0;
}

void close_handle(os_handle handle) { close((int)handle); }

void ignore_broken_pipes() { signal(SIGPIPE, SIG_IGN); }
