#include "figures.h"
#include "output.h"

// RFC 4180: a field holding a comma, a quote or a line break is quoted, its
// quotes doubled.
static std::string csv_field(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

void write_csv(const std::vector<report_input> *inputs, std::string *out) {
  *out +=
      "file,root,block_size,n_blocks,test,blocks_per_read,range_blocks,reads,ms,mib_per_s,us_per_read,iops,"
      "flags\r\n";
  for (const report_input &input : *inputs)
    for (const report_drive &drive : input.drives)
      for (bool random : {false, true})
        for (const report_row &row : (random ? drive.random : drive.sequential).rows) {
          row_figures f;
          derive_row(&drive, &row, random, &f);
          std::string fields[] = {csv_field(input.name),
                                  csv_field(drive.root),
                                  std::to_string(drive.block_size),
                                  std::to_string(drive.n_blocks),
                                  random ? "random" : "sequential",
                                  random ? "1" : std::to_string(row.first),
                                  random ? std::to_string(row.first) : "",
                                  std::to_string(row.reads),
                                  std::to_string(row.ms),
                                  row.mib_per_s_text,
                                  f.measured ? format_exact(f.us_per_read) : "",
                                  f.measured ? format_exact(f.iops) : "",
                                  f.flags};
          for (const std::string &field : fields) *out += field + (&field == &fields[12] ? "\r\n" : ",");
        }
}
