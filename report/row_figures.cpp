#include "row_figures.h"

double bytes_of_blocks(int64_t blocks, int64_t block_size) { return (double)blocks * (double)block_size; }

void derive_row(const report_drive *drive, const report_row *row, bool random, row_figures *figures) {
  *figures = row_figures{};
  figures->bytes_per_read = bytes_of_blocks(random ? 1 : row->first, drive->block_size);
  // blockmeter never prints 0 ms, but a row that did would have no rate.
  figures->measured = row->reads > 0 && row->ms > 0;
  if (figures->measured) {
    figures->us_per_read = (double)row->ms * 1000.0 / (double)row->reads;
    figures->iops = (double)row->reads * 1000.0 / (double)row->ms;
    figures->coarse = row->ms < coarse_below_ms;
  }
  figures->flags = row_flags(figures->coarse, row->failed_reads);
}

const char *metric_name(row_metric metric) {
  return metric == metric_p50 ? "p50" : metric == metric_p99 ? "p99" : "mean";
}

int find_metric(std::string_view name, row_metric *metric) {
  for (row_metric m : {metric_mean, metric_p50, metric_p99})
    if (name == metric_name(m)) {
      *metric = m;
      return 0;
    }
  return -1;
}

bool row_value(const report_drive *drive, const report_row *row, bool random, row_metric metric,
               double *value) {
  if (metric != metric_mean) {
    if (!row->timed) return false;
    *value = row->read_us[metric == metric_p50 ? read_p50 : read_p99];
    return true;
  }
  row_figures f;
  derive_row(drive, row, random, &f);
  if (!f.measured) return false;
  *value = f.us_per_read;
  return true;
}
