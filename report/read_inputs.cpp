#include "read_inputs.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "messages.h"

static bool is_stdin(const char *name) { return strcmp(name, "-") == 0; }

static void note_cut_short(const char *name, const report_drive *drive) {
  std::string why;
  if (is_cut_short(drive, &why))
    tell(input_name(name),
         "drive " + drive->root + ": the run was cut short (" + why + "); reported as far as it goes");
}

int read_drives(const char *name, report_input *input, drive_reading *reading, size_t *drives,
                std::string *found, std::string *why) {
  FILE *file = is_stdin(name) ? stdin : fopen(name, "rb");
  if (file == nullptr) {
    *why = strerror(errno);
    return -1;
  }
  auto reader = std::make_unique<report_reader>();
  start_read(file, input, reader.get());
  size_t done = 0;
  int status = 0;
  *drives = 0;
  while (status == 0 && !reader->done) {
    status = read_chunk(reader.get(), why);
    // Every drive but the last is complete; at the end, the last too.
    size_t complete = input->drives.size() - (!reader->done && !input->drives.empty() ? 1 : 0);
    for (; done < complete && status == 0; ++done) {
      if (reading->note) note_cut_short(name, &input->drives[done]);
      if (reading->write != nullptr && reading->write(input, &input->drives[done], reading->sink, why) != 0) {
        reading->write_failed = true;
        status = -1;
      }
    }
    if (!reading->keep) {
      *drives += done;
      input->drives.erase(input->drives.begin(), input->drives.begin() + (ptrdiff_t)done);
      done = 0;
    }
  }
  if (reading->keep) *drives = input->drives.size();
  *found = what_was_found(reader.get());
  if (file != stdin) fclose(file);
  return status;
}

// Reads one input, telling why it gave nothing. Returns 0 or -1.
static int read_input(const char *name, report_input *input, bool keep) {
  input->name = name;
  drive_reading reading = {keep, true, nullptr, nullptr, false};
  size_t drives = 0;
  std::string found, why;
  if (read_drives(name, input, &reading, &drives, &found, &why) != 0) {
    tell(input_name(name), why);
    return -1;
  }
  if (int64_t lines = input->overlong_drive_lines)
    tell(input_name(name), std::to_string(lines) + " drive line" + (lines == 1 ? "" : "s") + " longer than " +
                               std::to_string(longest_line) +
                               " bytes, more than blockmeter prints: passed over with the tables after " +
                               (lines == 1 ? "it" : "them"));
  if (drives == 0) {
    tell(input_name(name), "no blockmeter results found" + (found.empty() ? "" : " (" + found + ")"));
    return -1;
  }
  return 0;
}

int read_inputs(const std::vector<const char *> *names, bool keep, std::vector<report_input> *inputs) {
  inputs->assign(names->size(), report_input{});
  int status = 0;
  for (size_t i = 0; i < names->size(); ++i)
    if (read_input((*names)[i], &(*inputs)[i], keep || is_stdin((*names)[i])) != 0) status = -1;
  return status;
}

int stream_inputs(const std::vector<const char *> *names, std::vector<report_input> *inputs,
                  void (*start)(report_sink *out),
                  int (*write)(const report_input *, const report_drive *, report_sink *, std::string *),
                  report_sink *out, std::string *why) {
  start(out);
  for (size_t i = 0; i < inputs->size(); ++i) {
    report_input *input = &(*inputs)[i];
    const char *name = (*names)[i];
    if (is_stdin(name)) {
      for (const report_drive &drive : input->drives)
        if (write(input, &drive, out, why) != 0) return -1;
      continue;
    }
    drive_reading reading = {false, false, write, out, false};
    size_t drives = 0;
    std::string found;
    if (read_drives(name, input, &reading, &drives, &found, why) != 0) {
      if (!reading.write_failed) {
        tell(input_name(name), *why);
        why->clear();
      }
      return -1;
    }
  }
  return 0;
}
