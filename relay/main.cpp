// middleware: starts "sender" with its standard output going into pipe A and
// "getter" with its standard input coming from pipe B, then passes one chunk
// of at most 1023 bytes from the first to the second, showing it on the way.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "child.h"
#include "key.h"
#include "pipe.h"
#include "standard_streams.h"
#include "system_error.h"

constexpr size_t message_buffer_size = 1024;  // one read fills at most 1023

constexpr int exit_relayed = 0;
constexpr int exit_no_pipe = 1;
constexpr int exit_no_child = 2;
constexpr int exit_no_output = 3;

// Prints message as it always reads, then what failed and the system's reason
// for error on standard error, so that each cause can be told from the others.
static int fail(const char *message, const std::string &what, int error, bool wait, int status) {
  printf("%s", message);
  // The message has no line feed; it must be on the screen during the wait,
  // and before the reason.
  fflush(stdout);
  char reason[256];
  describe_system_error(error, reason, sizeof reason);
  fprintf(stderr, "middleware: %s: %s\n", what.c_str(), reason);
  if (wait) wait_key();
  return status;
}

static int fail_to_start(const char *message, const char *name, int error) {
  return fail(message, "cannot start " + child_program_file(name), error, true, exit_no_child);
}

int main() {
  // No pipe end may take the place of a standard stream that was closed. A
  // relay shown nowhere is not begun: no pipe, no child.
  if (!open_standard_streams()) {
    fprintf(stderr, "middleware: cannot write to standard output: %s\n", strerror(EBADF));
    return exit_no_output;
  }
  // A getter that has gone makes the write into pipe B fail, not end us
  // before the key wait.
  ignore_broken_pipes();
  pipe_ends pipe_a, pipe_b;
  int error = 0;
  if (create_pipe(&pipe_a, &error) != 0)
    return fail("Kreiranje cijevi : greska", "cannot create a pipe", error, false, exit_no_pipe);
  if (create_pipe(&pipe_b, &error) != 0)
    return fail("Kreiranje cijevi : greska", "cannot create a pipe", error, true, exit_no_pipe);

  // One record serves both starts; after the second it holds the getter.
  child_process child;
  child_stdio sender_stdio = {std_handle(std_input), pipe_a.write_end, std_handle(std_error)};
  if (start_child("sender", &sender_stdio, &child, &error) != 0)
    return fail_to_start("Kreiranje senderproc : greska", "sender", error);
  child_stdio getter_stdio = {pipe_b.read_end, std_handle(std_output), std_handle(std_error)};
  if (start_child("getter", &getter_stdio, &child, &error) != 0)
    return fail_to_start("Kreiranje getterproc : greska", "getter", error);

  // With our copies of the children's ends gone, a sender that exits without
  // writing ends the read below with 0 bytes, and our exit ends the getter's.
  close_handle(pipe_a.write_end);
  close_handle(pipe_b.read_end);

  char message[message_buffer_size] = {};
  size_t count = read_once(pipe_a.read_end, message, sizeof message - 1);
  errno = 0;
  printf("Middleware proces je vratio:\n");
  for (size_t i = 0; i < count; ++i) putchar((unsigned char)message[i]);
  // Shown before the getter can answer, and before the wait. A relay that
  // could not be shown (a full disk, a closed pipe) is no success.
  int shown = fflush(stdout) == 0 && !ferror(stdout) ? 0 : errno != 0 ? errno : EIO;
  write_once(pipe_b.write_end, message, count);
  if (shown != 0) fprintf(stderr, "middleware: cannot write to standard output: %s\n", strerror(shown));

  wait_key();
  close_child(&child);
  return shown == 0 ? exit_relayed : exit_no_output;
}
