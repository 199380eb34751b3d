#include "figures.h"

#include <vector>

constexpr double bytes_per_mib = 1024.0 * 1024.0;

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

bool fit_line(const double *x, const double *y, int n, double *a, double *b) {
  if (n < 2) return false;
  double mean_x = 0, mean_y = 0;
  for (int i = 0; i < n; ++i) mean_x += x[i], mean_y += y[i];
  mean_x /= n, mean_y /= n;
  // Sums of deviations from the means, which keep their precision where
  // the raw sums of squares of large byte counts would not.
  double sxx = 0, sxy = 0;
  for (int i = 0; i < n; ++i) {
    sxx += (x[i] - mean_x) * (x[i] - mean_x);
    sxy += (x[i] - mean_x) * (y[i] - mean_y);
  }
  if (!(sxx > 0)) return false;
  *b = sxy / sxx;
  *a = mean_y - *b * mean_x;
  return true;
}

static std::string too_few(int rows, const char *needed) {
  return "too few rows: " + std::to_string(rows) + " of " + std::to_string(coarse_below_ms) +
         " ms or more, " + needed + " needed";
}

static void derive_sequential(const report_drive *drive, drive_figures *figures) {
  std::vector<double> bytes, us;
  for (const report_row &row : drive->sequential.rows) {
    row_figures rf;
    derive_row(drive, &row, false, &rf);
    if (!rf.measured || rf.coarse || row.failed_reads) continue;
    if (bytes.empty() || row.mib_per_s > figures->peak_mib_per_s) {
      figures->peak_mib_per_s = row.mib_per_s;
      figures->peak_blocks_per_read = row.first;
    }
    bytes.push_back(rf.bytes_per_read);
    us.push_back(rf.us_per_read);
  }
  figures->sequential_rows = (int)bytes.size();
  if (bytes.empty()) figures->peak_note = too_few(0, "1");
  double a = 0, b = 0;
  if (!fit_line(bytes.data(), us.data(), (int)bytes.size(), &a, &b)) {
    figures->fit_note = too_few((int)bytes.size(), "2 read sizes");
  } else if (!(b > 0)) {
    figures->fit_note = "no transfer rate: the time per read does not grow with the read size";
  } else {
    figures->overhead_us = a;
    // b is microseconds per byte.
    figures->transfer_mib_per_s = 1e6 / b / bytes_per_mib;
  }
}

static void derive_random(const report_drive *drive, drive_figures *figures) {
  for (const report_row &row : drive->random.rows) {
    row_figures rf;
    derive_row(drive, &row, true, &rf);
    if (!rf.measured || rf.coarse || row.failed_reads) continue;
    if (figures->random_rows == 0 || row.first > figures->widest_range)
      figures->widest_range = row.first, figures->widest_us = rf.us_per_read;
    if (figures->random_rows == 0 || row.first < figures->narrowest_range)
      figures->narrowest_range = row.first, figures->narrowest_us = rf.us_per_read;
    ++figures->random_rows;
  }
  if (figures->random_rows == 0) figures->ends_note = too_few(0, "1");
  if (figures->random_rows == 0 || figures->widest_range == figures->narrowest_range)
    figures->seek_note = too_few(figures->random_rows, "2 ranges");
  else
    figures->seek_cost_us = figures->widest_us - figures->narrowest_us;
}

void derive_drive(const report_drive *drive, drive_figures *figures) {
  *figures = drive_figures{};
  derive_sequential(drive, figures);
  derive_random(drive, figures);
}
