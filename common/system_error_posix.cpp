#include "system_error.h"

#include <stdio.h>
#include <string.h>

void describe_system_error(int code, char *text, size_t size) { snprintf(text, size, "%s", strerror(code)); }
