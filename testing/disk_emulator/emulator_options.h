// The disk emulator's command line, and the model as text:
//
//   disk-emulator [OPTION...] MOUNT_POINT    serve the emulated disk at MOUNT_POINT
//   disk-emulator --print-model [OPTION...]  print the model, serve nothing
//
// Every option takes --name VALUE or --name=VALUE; a later one wins. Sizes
// are bytes, or a whole number with K, M, G or T (binary multiples); times
// are decimal numbers in the unit their name ends with.
#pragma once

#include <string>
#include <vector>

#include "disk_model.h"

struct emulator_options {
  disk_model model;
  std::string mount_point;   // where to serve the image; empty with --print-model or --help
  std::string log_path;      // --log FILE: a line per read served; empty: none
  bool attach_loop = false;  // --loop: attach the image to a loop device and print its node
  bool print_model = false;  // --print-model
  bool help = false;         // --help
};

// The bounds of the values, checked by parse_emulator_options.
constexpr int64_t max_disk_bytes = 1LL << 40;
constexpr int64_t max_disk_tracks = 1LL << 24;

// Reads argv[1] to argv[argc - 1] into *options (which keeps its values for
// what is not given). Returns 0, or -1 with why naming the option or argument
// and what is wrong with it: no number, out of its bounds (the sizes above;
// rpm 60 to 100000; overhead up to 1 s; seeks up to 1 s, the full stroke no
// shorter than track-to-track; spin-down up to an hour and wake up to a
// minute), a size not a whole number of 512-byte sectors, a track larger than
// the disk, an unknown option, or a missing or extra mount point.
int parse_emulator_options(int argc, const char *const *argv, emulator_options *options, std::string *why);

// The options that set every field of model, each value in a form that
// parse_emulator_options reads back exactly.
std::vector<std::string> format_model_options(const disk_model *model);

// The model as lines of key=value (the options' values, in bytes, rpm, us and
// ms), followed by what follows from it: tracks, turn_ms, and the
// average_seek_ms and average_access_ms (overhead, average seek and half a
// turn) of a read at a random place on the disk that the buffer does not hold.
std::string describe_model(const disk_model *model);

// What --help prints.
extern const char emulator_usage[];
