#include "key.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

// The terminal being waited on and its settings before the wait, for the
// signal handlers, which must put them back before the process ends or stops.
static int waiting_fd = -1;
static termios saved_settings;
static termios key_settings;

static constexpr int ending_signals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGTSTP};
static constexpr int signal_count = sizeof ending_signals / sizeof ending_signals[0];

static void on_signal(int signal_number) {
  int saved_errno = errno;
  tcsetattr(waiting_fd, TCSANOW, &saved_settings);
  struct sigaction ours, by_default = {};
  by_default.sa_handler = SIG_DFL;
  sigaction(signal_number, &by_default, &ours);
  // Registered with SA_NODEFER, so this takes effect now: the process ends,
  // or stops and goes on here when continued.
  raise(signal_number);
  sigaction(signal_number, &ours, nullptr);
  tcsetattr(waiting_fd, TCSANOW, &key_settings);
  errno = saved_errno;
}

void wait_key() {
  // Without a terminal there is nobody to press a key: no wait, as _getch
  // returns at once without a console.
  int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  if (tcgetattr(fd, &saved_settings) != 0) {
    close(fd);
    return;
  }
  waiting_fd = fd;
  key_settings = saved_settings;
  key_settings.c_lflag &= ~(ICANON | ECHO);
  key_settings.c_cc[VMIN] = 1;
  key_settings.c_cc[VTIME] = 0;

  struct sigaction handler = {}, previous[signal_count];
  handler.sa_handler = on_signal;
  handler.sa_flags = SA_NODEFER;
  sigemptyset(&handler.sa_mask);
  for (int i = 0; i < signal_count; ++i) {
    sigaction(ending_signals[i], &handler, &previous[i]);
    // A signal we were told to ignore (nohup) stays ignored.
    if (previous[i].sa_handler == SIG_IGN) sigaction(ending_signals[i], &previous[i], nullptr);
  }

  if (tcsetattr(fd, TCSANOW, &key_settings) == 0) {
    char key;
    while (read(fd, &key, 1) < 0 && errno == EINTR) {
    }
  }
  // Flushing drops what else the key sent (the rest of an arrow key's
  // sequence), which would otherwise reach the shell as typed input.
  tcsetattr(fd, TCSAFLUSH, &saved_settings);

  for (int i = 0; i < signal_count; ++i) sigaction(ending_signals[i], &previous[i], nullptr);
  waiting_fd = -1;
  close(fd);
}
