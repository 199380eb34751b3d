#include "tick.h"

#include <windows.h>

uint32_t read_tick() { return GetTickCount(); }
