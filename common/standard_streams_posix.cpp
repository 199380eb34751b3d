#include "standard_streams.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

bool open_standard_streams() {
  bool output_open = true;
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    if (fd == 1) output_open = false;
    // The lowest free descriptor, which is fd itself; fails only when the
    // process may open nothing at all, and then nothing can take its place.
    int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) close(opened);
  }
  return output_open;
}
