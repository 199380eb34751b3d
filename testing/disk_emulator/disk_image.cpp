#include "disk_image.h"

#include <algorithm>
#include <cstring>

void fill_image(int64_t offset, char *buf, size_t bytes) {
  for (size_t i = 0; i < bytes;) {
    uint64_t at = (uint64_t)offset + i;
    uint64_t word = at & ~(uint64_t)7;
    unsigned char little_endian[8];
    for (int k = 0; k < 8; ++k) little_endian[k] = (unsigned char)(word >> (8 * k));
    size_t skip = at & 7, n = std::min(8 - skip, bytes - i);
    memcpy(buf + i, little_endian + skip, n);
    i += n;
  }
}
