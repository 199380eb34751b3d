#include "escape.h"
#include "flags.h"
#include "numbers.h"
#include "output.h"
#include "row_figures.h"
#include "time_figures.h"

void write_csv_header(report_sink *out) {
  out->text +=
      "file,root,block_size,n_blocks,test,blocks_per_read,range_blocks,reads,ms,mib_per_s,us_per_read,iops,"
      "flags,device";
  for (const char *key : read_time_keys) out->text += std::string(",read_") + key + "_us";
  out->text += "\r\n";
}

int write_csv_rows(const report_input *input, const report_drive *drive, report_sink *out, std::string *why) {
  // A drive blockmeter warned of has figures that may not be the device's.
  unsigned suspect = drive->warnings.empty() ? 0 : flag_suspect;
  for (bool random : {false, true})
    for (const report_row &row : (random ? drive->random : drive->sequential).rows) {
      row_figures f;
      derive_row(drive, &row, random, &f);
      std::string flags = flag_text(f.flags | suspect);
      std::string fields[] = {csv_field(input->name),
                              csv_field(drive->root),
                              std::to_string(drive->block_size),
                              std::to_string(drive->n_blocks),
                              random ? "random" : "sequential",
                              random ? "1" : std::to_string(row.first),
                              random ? std::to_string(row.first) : "",
                              std::to_string(row.reads),
                              std::to_string(row.ms),
                              row.mib_per_s_text,
                              f.measured ? format_exact(f.us_per_read) : "",
                              f.measured ? format_exact(f.iops) : "",
                              csv_field(flags),
                              csv_field(drive->device)};
      for (const std::string &field : fields) out->text += field + ",";
      // Each time exactly as blockmeter printed it; empty where it printed none.
      for (int t = 0; t < read_time_count; ++t)
        out->text += row.read_us_text[t] + (t + 1 < read_time_count ? "," : "\r\n");
    }
  return drain_sink(out, false, why);
}

int write_csv(const std::vector<report_input> *inputs, report_sink *out, std::string *why) {
  write_csv_header(out);
  for (const report_input &input : *inputs)
    for (const report_drive &drive : input.drives)
      if (write_csv_rows(&input, &drive, out, why) != 0) return -1;
  return 0;
}
