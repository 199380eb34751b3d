// What a drive's curves say about the device behind them: whether it behaves
// like a rotating disk, like flash, like a volume held to a rate, or like a
// cache; for a rotating disk its rotation speed, access and seek times and
// track buffer; for a limit, the limit. Every figure comes from the rows
// alone (the kernel's rotational flag is no evidence: a virtual disk may
// claim it), says what it rests on, and is left out, with a note saying why,
// where the rows do not bear it.
#pragma once

#include <string>
#include <vector>

// The times of one row's reads, in microseconds, as blockmeter printed them.
struct read_times {
  double first, min, p10, p25, p50, p75, p90, p99, p999, max;
};

// One row as the model reads it (for several runs: the medians over them).
struct model_row {
  double bytes;        // sequential: bytes per read; random: the range read across, in bytes
  double us_per_read;  // the mean: the row's time over its reads
  double mib_per_s;    // the speed column
  double reads;        // reads made
  bool trusted;        // measured long enough for the tick, with no failed reads
  bool timed;          // times is set
  read_times times;
};

struct model_input {
  std::vector<model_row> sequential, random;  // each in table order
  std::string link;         // the device's link as blockmeter named it ("USB 480 Mb/s"); may be empty
  double link_bytes_per_s;  // the most its link can carry; 0 when not known
};

enum device_kind { kind_unclear, kind_rotating, kind_flash_like, kind_rate_limited, kind_cache };

enum buffer_verdict { buffer_not_told, buffer_serves, buffer_none };

struct device_model {
  device_kind kind;
  std::string basis;  // what the class rests on; for kind_unclear, why no class fits

  // A rotating disk.
  double turn_ms;                         // one turn of the platter
  double measured_rpm;                    // 60000 / turn_ms
  int shown_rpm;                          // the usual speed within rpm_round_share, else measured_rpm rounded
  bool rpm_rounded;                       // shown_rpm is a usual speed, not the measurement
  bool turn_whole;                        // from reads that each wait one whole turn, not from a spread
  int turn_rows;                          // the rows the turn comes from
  double turn_from_bytes, turn_to_bytes;  // their ranges
  double turn_reads;                      // the reads they made
  double access_ms;                       // the mean read over the widest range
  double access_range_bytes;              // that range
  double overhead_ms;                     // what a read costs besides seek and rotation
  std::string seek_note;                  // empty when seek_ms is set
  double seek_ms;                         // access less half a turn and the overhead
  buffer_verdict buffer;
  std::string buffer_text;  // the evidence either way, or why it cannot be told

  // A limit: reads per second, or MiB per second (one of them; 0 for the other).
  double limit_reads_per_s;
  double limit_mib_per_s;

  // The device's link, where known: what it carries, and the sequential peak
  // against it.
  std::string link;  // empty when not known
  double link_mib_per_s;
  double peak_mib_per_s;  // the fastest sequential row measured long enough; 0 with none
  bool peak_over_link;    // faster than the link can carry: not the device's figure
};

// The thresholds the model applies, where a reader of its figures may ask.
constexpr double rpm_round_share = 0.03;   // a measured speed this close to a usual one is shown as it
constexpr double cache_wide_read_us = 5;   // no device answers a read across its volume faster
constexpr double flat_time_share = 0.10;   // rows of one rate-limited time per read keep this close
constexpr double flat_speed_share = 0.05;  // a MiB/s limit holds its rows this close
constexpr double flash_flat_ratio = 1.5;   // a flat random curve: its slowest at most this over its fastest
constexpr double flash_spread_ratio = 4;   // flash-like, but not flat, up to this
constexpr double flash_slowest_us = 1000;  // a typical read slower than this is no flash's
constexpr double turn_agree_share = 0.06;  // neighbouring rows' turns agree this well

// Reads the rows of input into *model.
void model_device(const model_input *input, device_model *model);

// "rotating", "flash-like", "rate-limited", "cache" or "unclear".
const char *kind_name(device_kind kind);

// The usual rotation speeds of disks, in rpm, smallest first.
extern const int usual_rpms[5];

// The model in lines of words, each a label and its text, in the order a
// summary shows them: "behaves like" (the class and what it rests on), then
// for a rotating disk "rotation" ("7200 rpm (...)"), "average access",
// "average seek" and "track buffer", or for a limit "limit" ("2000 reads/s
// (...)" or "48.2 MiB/s (...)"); and "link" where the device's link is known.
// Numbers are plain ("7200", "12.41 ms"), so
// that a script can read the first word after the label.
struct model_line {
  const char *label;
  std::string text;
};
void describe_device_model(const device_model *model, std::vector<model_line> *lines);
