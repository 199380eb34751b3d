// What the emulated disk holds: each 8-byte word holds its own offset in the
// image, little-endian, so that a reader can tell where any read came from.
#pragma once

#include <cstddef>
#include <cstdint>

// Fills buf with the bytes bytes of the image from offset on (any offset and
// length; nothing is read or kept).
void fill_image(int64_t offset, char *buf, size_t bytes);
