#include "row_figures.h"

void derive_row(const report_drive *drive, const report_row *row, bool random, row_figures *figures) {
  *figures = row_figures{};
  figures->bytes_per_read = (double)drive->block_size * (double)(random ? 1 : row->first);
  // blockmeter never prints 0 ms, but a row that did would have no rate.
  figures->measured = row->reads > 0 && row->ms > 0;
  if (figures->measured) {
    figures->us_per_read = (double)row->ms * 1000.0 / (double)row->reads;
    figures->iops = (double)row->reads * 1000.0 / (double)row->ms;
    figures->coarse = row->ms < coarse_below_ms;
    if (figures->coarse) figures->flags = "coarse";
  }
  if (row->failed_reads) figures->flags += figures->flags.empty() ? "failed-reads" : " failed-reads";
}

bool row_value(const report_drive *drive, const report_row *row, bool random, double *value) {
  row_figures f;
  derive_row(drive, row, random, &f);
  if (!f.measured) return false;
  *value = f.us_per_read;
  return true;
}
