// What blockmeter says of a volume before its tables, on standard error.
#pragma once

#include <cstdint>

#include "hdd.h"

// For the volume open at handle (opened from root): one line saying which
// device its reads reach and what a storage engineer checks first of it,
// "blockmeter: ROOT: reading NODE, SIZE, ..." (or "reading an unknown device:
// REASON"), then a line "blockmeter: warning: ..." for each thing that makes
// the reads not the device's: a loop device without direct I/O, a file's
// holes or unwritten extents, its compressed extents. Outside text is escaped
// (terminal_text).
void note_volume(const char *root, intptr_t handle);
