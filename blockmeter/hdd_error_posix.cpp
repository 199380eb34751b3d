// The record of the latest failure of the Linux drive backend, behind
// hdd_last_error() and describe_hdd_error(), and how a message names the
// volume it was on.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "hdd.h"
#include "hdd_posix.h"
#include "system_error.h"

static int last_error = 0;

// A failure that no errno describes keeps a text of its own, which
// describe_hdd_error gives for this code.
constexpr int own_reason_code = 1 << 30;
static char own_reason[1024];

// The device node that the latest failed call was on, when it is not the root.
static char tried_node[hdd_path_size];

int fail_hdd(int code) {
  last_error = code;
  return -1;
}

int fail_hdd_because(const char *format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(own_reason, sizeof own_reason, format, args);
  va_end(args);
  return fail_hdd(own_reason_code);
}

int fail_hdd_on_node(const char *node, int code) {
  set_hdd_node_tried(node);
  return fail_hdd(code);
}

void set_hdd_node_tried(const char *node) { snprintf(tried_node, sizeof tried_node, "%s", node); }

int hdd_last_error() { return last_error; }

void describe_hdd_error(int code, char *text, size_t size) {
  if (code == own_reason_code)
    snprintf(text, size, "%s", own_reason);
  else
    describe_system_error(code, text, size);
}

void name_hdd_volume(const char *root, char *text, size_t size) {
  if (tried_node[0] != '\0' && strcmp(tried_node, root) != 0)
    snprintf(text, size, "%s (device %s)", root, tried_node);
  else
    snprintf(text, size, "%s", root);
}
