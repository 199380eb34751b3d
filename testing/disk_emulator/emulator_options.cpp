#include "emulator_options.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

const char emulator_usage[] =
    "usage: disk-emulator [OPTION...] MOUNT_POINT\n"
    "       disk-emulator --print-model [OPTION...]\n"
    "Serves MOUNT_POINT/disk.img, a read-only image whose reads take the time a\n"
    "rotating drive takes, one at a time; each 8-byte word holds its own offset.\n"
    "  --size BYTES           capacity (default 64M; K, M, G, T multiply by 1024s)\n"
    "  --rpm N                turns per minute (default 7200)\n"
    "  --track-bytes BYTES    bytes per track (default 512K)\n"
    "  --overhead-us US       command overhead of every read (default 200)\n"
    "  --t2t-ms MS            track-to-track seek, and the track skew (default 0.8)\n"
    "  --full-stroke-ms MS    seek from the first track to the last (default 15)\n"
    "  --buffer on|off        read-ahead of the rest of the track (default on)\n"
    "  --spin-down-ms MS      idle time after which the platter stops (default 0: never)\n"
    "  --wake-ms MS           time to spin up again (default 3000)\n"
    "  --log FILE             append a line per read: offset bytes arrived_ns done_ns\n"
    "  --loop                 attach the image to a loop device (read-only, direct I/O)\n"
    "                         and print its node; detached when the emulator ends\n"
    "  --print-model          print the model's values and what follows from them\n"
    "It ends, unmounting and letting go of the loop device, on SIGINT, SIGTERM or\n"
    "SIGHUP, or when the process that started it ends.\n"
    "Exit status: 0 when unmounted or ended by a signal; 1 on a failure while serving;\n"
    "2 for a bad command line; 3 when the system refuses FUSE or a loop device.\n";

// The shortest text that reads back as the same double, without an exponent
// (which no one reads in a time).
static std::string format_number(double value) {
  char text[400];
  std::to_chars_result result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
  if (result.ec != std::errc()) result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

static std::string quoted(const char *name, const char *value) {
  return std::string(name) + " " + value + ": ";
}

static int parse_decimal(const char *name, const char *text, double low, double high, double *out,
                         std::string *why) {
  char *end = nullptr;
  double value = *text == '\0' || isspace((unsigned char)*text) ? NAN : strtod(text, &end);
  if (end == nullptr || *end != '\0' || !std::isfinite(value)) {
    *why = quoted(name, text) + "not a number";
    return -1;
  }
  if (value < low || value > high) {
    *why = quoted(name, text) + "must be from " + format_number(low) + " to " + format_number(high);
    return -1;
  }
  *out = value;
  return 0;
}

static int parse_size(const char *name, const char *text, int64_t low, int64_t high, int64_t *out,
                      std::string *why) {
  static const char units[] = "KMGT";
  const char *end = text + strlen(text);
  uint64_t value = 0;
  std::from_chars_result number = std::from_chars(text, end, value);
  bool too_big = number.ec == std::errc::result_out_of_range;
  bool valid = number.ec == std::errc() || too_big;
  int shift = 0;
  if (valid && number.ptr + 1 == end) {
    const char *unit = strchr(units, toupper((unsigned char)*number.ptr));
    valid = unit != nullptr;
    if (valid) shift = 10 * (int)(unit - units + 1);
  } else if (valid && number.ptr != end) {
    valid = false;
  }
  if (!valid) {
    *why = quoted(name, text) + "not a size (bytes, or a whole number with K, M, G or T)";
    return -1;
  }
  if (too_big || value > (uint64_t)high >> shift || (int64_t)(value << shift) < low) {
    *why =
        quoted(name, text) + "must be from " + std::to_string(low) + " to " + std::to_string(high) + " bytes";
    return -1;
  }
  *out = (int64_t)(value << shift);
  return 0;
}

// The checks between values, once all are read.
static int check_model(const disk_model *model, std::string *why) {
  if (model->size_bytes % 512 != 0) {
    *why = "--size " + std::to_string(model->size_bytes) + ": not a whole number of 512-byte sectors";
  } else if (model->track_bytes > model->size_bytes) {
    *why = "--track-bytes " + std::to_string(model->track_bytes) + ": larger than the disk (--size " +
           std::to_string(model->size_bytes) + ")";
  } else if (count_tracks(model) > max_disk_tracks) {
    *why = "--track-bytes " + std::to_string(model->track_bytes) + ": makes " +
           std::to_string(count_tracks(model)) + " tracks of the disk; at most " +
           std::to_string(max_disk_tracks);
  } else if (model->full_stroke_ms < model->track_to_track_ms) {
    *why = "--full-stroke-ms " + format_number(model->full_stroke_ms) + ": shorter than --t2t-ms " +
           format_number(model->track_to_track_ms);
  } else {
    return 0;
  }
  return -1;
}

int parse_emulator_options(int argc, const char *const *argv, emulator_options *options, std::string *why) {
  disk_model *model = &options->model;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.size() < 2 || arg[0] != '-') {
      if (!options->mount_point.empty()) {
        *why = "unexpected argument " + arg + " after the mount point " + options->mount_point;
        return -1;
      }
      options->mount_point = arg;
      continue;
    }
    std::string name = arg.substr(0, arg.find('='));
    if (name == "--loop" || name == "--print-model" || name == "--help") {
      if (name != arg) {
        *why = name + " takes no value";
        return -1;
      }
      bool *flag = name == "--loop"   ? &options->attach_loop
                   : name == "--help" ? &options->help
                                      : &options->print_model;
      *flag = true;
      continue;
    }
    std::string value;
    if (name != arg) {
      value = arg.substr(name.size() + 1);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      *why = name + " needs a value";
      return -1;
    }
    const char *n = name.c_str(), *v = value.c_str();
    int result = 0;
    if (name == "--size")
      result = parse_size(n, v, 512, max_disk_bytes, &model->size_bytes, why);
    else if (name == "--track-bytes")
      result = parse_size(n, v, 512, max_disk_bytes, &model->track_bytes, why);
    else if (name == "--rpm")
      result = parse_decimal(n, v, 60, 100000, &model->rpm, why);
    else if (name == "--overhead-us")
      result = parse_decimal(n, v, 0, 1e6, &model->overhead_us, why);
    else if (name == "--t2t-ms")
      result = parse_decimal(n, v, 0, 1000, &model->track_to_track_ms, why);
    else if (name == "--full-stroke-ms")
      result = parse_decimal(n, v, 0, 1000, &model->full_stroke_ms, why);
    else if (name == "--spin-down-ms")
      result = parse_decimal(n, v, 0, 3.6e6, &model->spin_down_ms, why);
    else if (name == "--wake-ms")
      result = parse_decimal(n, v, 0, 60000, &model->wake_ms, why);
    else if (name == "--buffer" && (value == "on" || value == "off"))
      model->track_buffer = value == "on";
    else if (name == "--buffer")
      *why = quoted(n, v) + "must be on or off", result = -1;
    else if (name == "--log" && !value.empty())
      options->log_path = value;
    else if (name == "--log")
      *why = "--log needs a file name", result = -1;
    else
      *why = "unknown option " + name, result = -1;
    if (result != 0) return -1;
  }
  if (check_model(model, why) != 0) return -1;
  if (options->help || options->print_model) return 0;
  if (options->mount_point.empty()) {
    *why = "no mount point given";
    return -1;
  }
  return 0;
}

std::vector<std::string> format_model_options(const disk_model *model) {
  return {"--size",
          std::to_string(model->size_bytes),
          "--rpm",
          format_number(model->rpm),
          "--track-bytes",
          std::to_string(model->track_bytes),
          "--overhead-us",
          format_number(model->overhead_us),
          "--t2t-ms",
          format_number(model->track_to_track_ms),
          "--full-stroke-ms",
          format_number(model->full_stroke_ms),
          "--buffer",
          model->track_buffer ? "on" : "off",
          "--spin-down-ms",
          format_number(model->spin_down_ms),
          "--wake-ms",
          format_number(model->wake_ms)};
}

std::string describe_model(const disk_model *model) {
  double turn_ms = 60e3 / model->rpm;
  double average_seek = average_seek_ms(model);
  std::string text;
  auto line = [&text](const char *key, const std::string &value) {
    text += std::string(key) + "=" + value + "\n";
  };
  line("size_bytes", std::to_string(model->size_bytes));
  line("rpm", format_number(model->rpm));
  line("track_bytes", std::to_string(model->track_bytes));
  line("overhead_us", format_number(model->overhead_us));
  line("track_to_track_ms", format_number(model->track_to_track_ms));
  line("full_stroke_ms", format_number(model->full_stroke_ms));
  line("track_buffer", model->track_buffer ? "on" : "off");
  line("spin_down_ms", format_number(model->spin_down_ms));
  line("wake_ms", format_number(model->wake_ms));
  line("tracks", std::to_string(count_tracks(model)));
  line("turn_ms", format_number(turn_ms));
  line("average_seek_ms", format_number(average_seek));
  line("average_access_ms", format_number(model->overhead_us / 1000 + average_seek + turn_ms / 2));
  return text;
}
