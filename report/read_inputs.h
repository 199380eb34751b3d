// The reader loop: each input named on the command line opened (standard
// input for "-"), read a chunk at a time, and each of its drives dealt with
// once it is complete, so that memory follows the work, not the input.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "report.h"
#include "report_sink.h"

// What reading does with each drive once it is complete.
struct drive_reading {
  bool keep;  // keep it in input->drives; else drop it once dealt with
  bool note;  // tell if its run was cut short
  // Write it into sink as it is complete (a form made a drive at a time),
  // or null.
  int (*write)(const report_input *input, const report_drive *drive, report_sink *out, std::string *why);
  report_sink *sink;
  bool write_failed;  // set by read_drives when it failed because write did
};

// Reads the input named name into input as reading says. *drives counts the
// drives read; *found says what the input holds when it is not text
// (parse_file). Returns 0, or -1 with *why set when the input could not be
// opened or read, or write failed (reading->write_failed then set).
int read_drives(const char *name, report_input *input, drive_reading *reading, size_t *drives,
                std::string *found, std::string *why);

// Reads every input of names, in order, into inputs (one each), keeping the
// drives of those that keep says (standard input always, as it cannot be
// read twice). Tells why an input gave nothing, each run cut short and each
// drive line passed over. Returns 0, or -1 when an input could not be read
// or held no results; every input is read and every failure told.
int read_inputs(const std::vector<const char *> *names, bool keep, std::vector<report_input> *inputs);

// A form made a drive at a time: start writes its head, then every named
// input is read again and each drive written as it is complete; standard
// input's drives, kept by read_inputs, are written from there. Returns 0, or
// -1 with *why set when the sink could not take the report, or, after
// telling why, when an input could not be read again (*why then empty).
int stream_inputs(const std::vector<const char *> *names, std::vector<report_input> *inputs,
                  void (*start)(report_sink *out),
                  int (*write)(const report_input *, const report_drive *, report_sink *, std::string *),
                  report_sink *out, std::string *why);
