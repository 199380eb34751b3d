// middleware: starts "sender" with its standard output going into pipe A and
// "getter" with its standard input coming from pipe B, then passes one chunk
// of at most 1023 bytes from the first to the second, showing it on the way.
#include <cstdio>

#include "child.h"
#include "key.h"
#include "pipe.h"
#include "standard_streams.h"

constexpr size_t message_buffer_size = 1024;  // one read fills at most 1023

constexpr int exit_relayed = 0;
constexpr int exit_no_pipe = 1;
constexpr int exit_no_child = 2;

static int fail(const char *message, bool wait, int status) {
  printf("%s", message);
  // The message has no line feed; it must be on the screen during the wait.
  fflush(stdout);
  if (wait) wait_key();
  return status;
}

int main() {
  // No pipe end may take the place of a standard stream that was closed.
  open_standard_streams();
  // A getter that has gone makes the write into pipe B fail, not end us
  // before the key wait.
  ignore_broken_pipes();
  pipe_ends pipe_a, pipe_b;
  if (create_pipe(&pipe_a) != 0) return fail("Kreiranje cijevi : greska", false, exit_no_pipe);
  if (create_pipe(&pipe_b) != 0) return fail("Kreiranje cijevi : greska", true, exit_no_pipe);

  // One record serves both starts; after the second it holds the getter.
  child_process child;
  child_stdio sender_stdio = {std_handle(std_input), pipe_a.write_end, std_handle(std_error)};
  if (start_child("sender", &sender_stdio, &child) != 0)
    return fail("Kreiranje senderproc : greska", true, exit_no_child);
  child_stdio getter_stdio = {pipe_b.read_end, std_handle(std_output), std_handle(std_error)};
  if (start_child("getter", &getter_stdio, &child) != 0)
    return fail("Kreiranje getterproc : greska", true, exit_no_child);

  // With our copies of the children's ends gone, a sender that exits without
  // writing ends the read below with 0 bytes, and our exit ends the getter's.
  close_handle(pipe_a.write_end);
  close_handle(pipe_b.read_end);

  char message[message_buffer_size] = {};
  size_t count = read_once(pipe_a.read_end, message, sizeof message - 1);
  printf("Middleware proces je vratio:\n");
  for (size_t i = 0; i < count; ++i) putchar((unsigned char)message[i]);
  // Shown before the getter can answer, and before the wait.
  fflush(stdout);
  write_once(pipe_b.write_end, message, count);

  wait_key();
  close_child(&child);
  return exit_relayed;
}
