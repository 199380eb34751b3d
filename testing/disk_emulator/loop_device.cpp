// Linux: the loop driver's ioctls (LOOP_CONFIGURE, from Linux 5.8) and sysfs.
#include "loop_device.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/loop.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <fstream>

// The errors by which the system says no, as against a failure of ours.
static bool is_refusal(int code) {
  return code == EPERM || code == EACCES || code == ENOENT || code == ENODEV || code == ENXIO;
}

static int fail(const std::string &what, int code, bool *refused, std::string *why) {
  *why = what + ": " + strerror(code);
  *refused = is_refusal(code);
  return -1;
}

// Asks the loop driver for a free device and attaches file to it; returns its
// descriptor, or -1 with errno set. Another process may take the device
// between the asking and the attaching (EBUSY); then it asks again.
static int configure_free_loop(int control, int file, const std::string &path, std::string *node) {
  loop_config config = {};
  config.fd = (uint32_t)file;
  config.info.lo_flags = LO_FLAGS_READ_ONLY | LO_FLAGS_DIRECT_IO | LO_FLAGS_AUTOCLEAR;
  strncpy((char *)config.info.lo_file_name, path.c_str(), LO_NAME_SIZE - 1);
  for (int tries = 0; tries < 16; ++tries) {
    int number = ioctl(control, LOOP_CTL_GET_FREE);
    if (number < 0) return -1;
    *node = "/dev/loop" + std::to_string(number);
    int loop = open(node->c_str(), O_RDONLY | O_CLOEXEC);
    if (loop < 0) return -1;
    if (ioctl(loop, LOOP_CONFIGURE, &config) == 0) return loop;
    int code = errno;
    close(loop);
    errno = code;
    if (code != EBUSY) return -1;
  }
  return -1;
}

int attach_loop(const std::string &path, std::string *node, int *fd, bool *refused, std::string *why) {
  *refused = false;
  int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return fail("cannot open " + path, errno, refused, why);
  int control = open("/dev/loop-control", O_RDWR | O_CLOEXEC);
  if (control < 0) {
    int code = errno;
    close(file);
    return fail("cannot open /dev/loop-control", code, refused, why);
  }
  int loop = configure_free_loop(control, file, path, node);
  int code = errno;
  close(control);
  close(file);
  if (loop < 0) {
    // A kernel that cannot read this file directly refuses LOOP_CONFIGURE with
    // EINVAL.
    fail("cannot attach " + path + " to a loop device with direct I/O", code, refused, why);
    *refused = *refused || code == EINVAL;
    return -1;
  }
  std::string name = node->substr(node->rfind('/') + 1), dio;
  std::ifstream("/sys/block/" + name + "/loop/dio") >> dio;
  if (dio != "1") {
    close(loop);
    *why = "the kernel took no direct I/O on " + *node + " over " + path + " (dio=" + dio + ")";
    *refused = true;
    return -1;
  }
  *fd = loop;
  return 0;
}
