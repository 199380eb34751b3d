// The drive operations that are the same on every system, made of the
// backend's own.
#include "hdd.h"

int seek_hdd(intptr_t handle, const hdd_info *info, int64_t block) {
  position_hdd(handle, info, block);
  return 0;
}

// A positioning and a plain read, not one positioned read: the position must
// end just past the blocks read, where a following read_hdd_cur goes on.
int read_hdd(intptr_t handle, const hdd_info *info, int64_t block, int nblocks, void *buf) {
  if (position_hdd(handle, info, block) != 0) return -1;
  return read_hdd_cur(handle, info, nblocks, buf);
}
