#include "priority.h"

#include "fakes.h"

int priority_raises = 0;

void raise_priority() { ++priority_raises; }
