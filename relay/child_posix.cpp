// Linux and glibc: posix_spawn_file_actions_addclosefrom_np is glibc's own.
#include "child.h"

#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <string>

extern char **environ;

std::string child_program_file(const char *name) { return std::string("./") + name; }

int start_child(const char *name, const child_stdio *stdio, child_process *child, int *error) {
  std::string path = child_program_file(name);
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);

  const os_handle wanted[3] = {stdio->input, stdio->output, stdio->error};
  for (int fd = 0; fd < 3; ++fd)
    // A handle already in its place is inherited as it is; dup2 clears the
    // close-on-exec flag of a pipe end.
    if (wanted[fd] != fd) posix_spawn_file_actions_adddup2(&actions, (int)wanted[fd], fd);
  // Nothing but the three standard handles: no pipe end of the other child,
  // and nothing we inherited ourselves.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);

  // ignore_broken_pipes may have had this process ignore SIGPIPE; a child
  // must not inherit that.
  sigset_t to_default, unblocked;
  sigemptyset(&to_default);
  sigaddset(&to_default, SIGPIPE);
  sigemptyset(&unblocked);
  posix_spawnattr_setsigdefault(&attributes, &to_default);
  posix_spawnattr_setsigmask(&attributes, &unblocked);
  // A session of its own is the counterpart of a console of its own: no
  // controlling terminal, no signals from ours.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  char *argv[] = {path.data(), nullptr};
  pid_t pid = 0;
  // glibc reports a failed exec (missing, not executable) here, not as a
  // child that exits later.
  int code = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (code != 0) {
    *error = code;
    return -1;
  }
  child->process = pid;
  child->thread = 0;
  return 0;
}

void close_child(child_process *) {}
