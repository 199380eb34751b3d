#include "binary_stdio.h"

// POSIX streams are bytes already.
void set_binary_stdio() {}
