#include "device_model.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "numbers.h"
#include "stats.h"

const int usual_rpms[5] = {5400, 5900, 7200, 10000, 15000};

// A platter turns between these times: 2,000 to 30,000 rpm.
constexpr double slowest_turn_us = 30000;
constexpr double fastest_turn_us = 2000;
// A row's quantiles tell a turn only from this many reads.
constexpr double turn_least_reads = 100;
// The two estimates of one row's turn may differ this much by chance alone.
constexpr double turn_estimates_share = 0.10;
// Reads that all wait put p25 this share of p75 - p25 or more above the
// fastest read (a half, less the seek's spread); fewer, and reads that did
// not wait fill the lowest quarter.
constexpr double unwaited_share = 0.3;
// A row whose fastest read is this share of a turn slower than the wider
// rows' waits in a window of a turn: its range lies within one track.
constexpr double late_window_share = 0.2;
// A read under this share of the platter's median wait was not waited for.
constexpr double buffer_hit_share = 0.25;
// ... and one over this share of it was.
constexpr double buffer_miss_share = 0.75;
// The fewest rows a class or a limit rests on.
constexpr size_t least_flat_rows = 4;
// Reads that each wait a whole turn keep their quartiles this close to their median.
constexpr double whole_turn_spread_share = 0.05;
// ... and their median this close to the turn their spread tells elsewhere.
constexpr double whole_turn_share = 0.15;
// A rotating disk's mean read spans a turn's average wait at least.
constexpr double rotating_least_wait_share = 0.5;

static const char *const kind_names[] = {"unclear", "rotating", "flash-like", "rate-limited", "cache"};

const char *kind_name(device_kind kind) { return kind_names[kind]; }

static std::vector<const model_row *> trusted_rows(const std::vector<model_row> *rows) {
  std::vector<const model_row *> out;
  for (const model_row &row : *rows)
    if (row.trusted && row.reads > 0 && row.us_per_read > 0) out.push_back(&row);
  return out;
}

static double median_us(const std::vector<const model_row *> &rows) {
  std::vector<double> us;
  for (const model_row *row : rows) us.push_back(row->us_per_read);
  return median_of(us);
}

static bool within(double value, double centre, double share) {
  return std::fabs(value - centre) <= share * centre;
}

// What one row's quantiles tell of a turn. Reads that wait for the platter
// wait a time spread evenly over one turn, so p90 - p10 is 0.8 of it and
// p75 - p25 half of it. Nothing makes them shorter in a row that spans whole
// tracks; the seek's own spread and reads answered from the track buffer make
// them longer, the deciles sooner than the quartiles, so that the two part.
enum turn_evidence { turn_told, turn_blurred, turn_unwaited };

static turn_evidence turn_of_row(const model_row *row, double *turn) {
  *turn = 0;
  if (!row->trusted || !row->timed || row->reads < turn_least_reads) return turn_blurred;
  const read_times &t = row->times;
  double by_deciles = (t.p90 - t.p10) / 0.8, by_quartiles = 2 * (t.p75 - t.p25);
  // Waits spread over a turn put p25 a quarter of one above the fastest
  // read; reads that were not waited for fill the lowest quarter instead.
  if (by_quartiles < fastest_turn_us || t.p25 - t.min < unwaited_share * (t.p75 - t.p25))
    return turn_unwaited;
  if (std::fabs(by_deciles - by_quartiles) > turn_estimates_share * std::max(by_deciles, by_quartiles))
    return turn_blurred;
  // Reads the buffer answered sit at the fastest: as many as bring p10
  // closer to it than a tenth of a turn are missing from the waits, which
  // then span more of the quartiles than they would. The quartiles keep
  // clear of the seek's spread longer than the deciles.
  double unwaited = std::clamp(0.1 - (t.p10 - t.min) / by_deciles, 0.0, 0.1);
  *turn = by_quartiles * (1 - unwaited);
  return turn_told;
}

// The turn, from the widest range inwards: the rows that tell one, until
// reads go unwaited (the track buffer answers) or wait in a window of a turn
// (a range within one track); of those rows, the longest run of neighbours
// that agree, where the estimate levels off: wider, the seek's own spread
// lengthens it. Returns the turn in us (the run's median), or 0; *narrowest
// is the narrowest row that told one.
static double find_turn(const std::vector<model_row> *random, std::vector<const model_row *> *rows,
                        const model_row **narrowest) {
  std::vector<const model_row *> by_range;
  for (const model_row &row : *random) by_range.push_back(&row);
  std::sort(by_range.begin(), by_range.end(),
            [](const model_row *a, const model_row *b) { return a->bytes > b->bytes; });
  std::vector<std::pair<double, const model_row *>> told;
  double fastest_min = 0;
  for (const model_row *row : by_range) {
    double turn;
    turn_evidence evidence = turn_of_row(row, &turn);
    if (evidence == turn_unwaited && !told.empty()) break;
    if (evidence != turn_told || turn > slowest_turn_us) continue;
    // A range within one track waits in a window of a turn that opens later
    // than the wider ranges' fastest reads: reads no longer wait from nothing.
    if (!told.empty() && row->times.min - fastest_min > late_window_share * turn) break;
    fastest_min = told.empty() ? row->times.min : std::min(fastest_min, row->times.min);
    told.push_back({turn, row});
  }
  if (told.empty()) return 0;
  *narrowest = told.back().second;
  // Of runs as long, the one with the shortest turn: every disturbance lengthens it.
  size_t best_start = 0, best_end = 1;
  double best = told[0].first;
  for (size_t start = 0; start < told.size(); ++start) {
    std::vector<double> run;
    for (size_t end = start + 1; end <= told.size(); ++end) {
      run.push_back(told[end - 1].first);
      double centre = median_of(run);
      bool agree = true;
      for (double turn : run) agree = agree && within(turn, centre, turn_agree_share);
      if (!agree) break;
      if (end - start > best_end - best_start || (end - start == best_end - best_start && centre < best))
        best_start = start, best_end = end, best = centre;
    }
  }
  rows->clear();
  for (size_t i = best_start; i < best_end; ++i) rows->push_back(told[i].second);
  std::sort(rows->begin(), rows->end(),
            [](const model_row *a, const model_row *b) { return a->bytes < b->bytes; });
  return best;
}

static std::string ms_text(double us) { return format_fixed(us / 1000, us < 10000 ? 2 : 1) + " ms"; }

// Faster than the link between the device and the host can carry: what
// answered was on this side of it.
static bool is_beyond_link(const model_input *input, device_model *model) {
  if (!model->peak_over_link) return false;
  model->basis = "its sequential peak, " + format_fixed(model->peak_mib_per_s, 1) +
                 " MiB/s, is more than its link (" + input->link + ") can carry, " +
                 format_fixed(model->link_mib_per_s, 1) + " MiB/s at most: a cache answered";
  return true;
}

// Reads across the volume, on average, faster than any device answers reads
// so far apart.
static bool is_fast_as_memory(const model_input *input, device_model *model) {
  const model_row *widest = nullptr;
  for (const model_row *row : trusted_rows(&input->random))
    if (widest == nullptr || row->bytes > widest->bytes) widest = row;
  if (widest == nullptr || widest->us_per_read >= cache_wide_read_us) return false;
  model->basis = "reads across " + format_size(widest->bytes) + " take " +
                 format_fixed(widest->us_per_read, 2) +
                 " us on average, faster than any device answers reads so far apart: a cache answered";
  return true;
}

// Every read the same time, whatever its size or range: a limit of reads per
// second, not a device's mechanics or transfer.
static bool is_read_limited(const model_input *input, device_model *model) {
  std::vector<const model_row *> random = trusted_rows(&input->random),
                                 sequential = trusted_rows(&input->sequential);
  if (random.size() < least_flat_rows || sequential.size() < least_flat_rows) return false;
  double us = median_us(random);
  size_t off = 0;
  for (const model_row *row : random) off += !within(row->us_per_read, us, flat_time_share);
  // One row in ten may stray (a burst the limit allowed); no more.
  if (off * 10 > random.size()) return false;
  std::vector<double> bytes, times;
  for (const model_row *row : sequential) bytes.push_back(row->bytes), times.push_back(row->us_per_read);
  double a = 0, b = 0, r2 = 0;
  if (fit_line(bytes.data(), times.data(), (int)bytes.size(), &a, &b, &r2) != 0) return false;
  double smallest = *std::min_element(bytes.begin(), bytes.end()),
         largest = *std::max_element(bytes.begin(), bytes.end());
  // Reads of every size cost the random reads' time, and the larger ones no more.
  if (!within(median_of(times), us, flat_time_share * 1.5) ||
      std::fabs(b * (largest - smallest)) > flat_time_share * 1.5 * us)
    return false;
  model->limit_reads_per_s = 1e6 / us;
  model->basis = "every read takes about " + format_fixed(us, 1) + " us, whatever its size (" +
                 format_size(smallest) + " to " + format_size(largest) + ") or range (" +
                 std::to_string(random.size()) + " random rows within " +
                 format_fixed(flat_time_share * 100, 0) + " %)";
  return true;
}

// Sequential speed flat from some read size on: a limit of bytes per second.
static bool is_speed_limited(const model_input *input, device_model *model) {
  std::vector<const model_row *> rows = trusted_rows(&input->sequential);
  std::sort(rows.begin(), rows.end(),
            [](const model_row *a, const model_row *b) { return a->bytes < b->bytes; });
  if (rows.size() < least_flat_rows) return false;
  for (size_t start = 0; start + least_flat_rows <= rows.size(); ++start) {
    if (rows.back()->bytes < 2 * rows[start]->bytes) break;
    std::vector<double> speeds;
    for (size_t i = start; i < rows.size(); ++i) speeds.push_back(rows[i]->mib_per_s);
    double centre = median_of(speeds);
    bool flat = true;
    for (double speed : speeds) flat = flat && within(speed, centre, flat_speed_share);
    if (!flat) continue;
    model->limit_mib_per_s = centre;
    model->basis = "sequential reads of " + format_size(rows[start]->bytes) + " to " +
                   format_size(rows.back()->bytes) + " all run at " + format_fixed(centre, 1) + " MiB/s (" +
                   std::to_string(speeds.size()) + " rows within " + format_fixed(flat_speed_share * 100, 0) +
                   " %)";
    return true;
  }
  return false;
}

static int round_rpm(double rpm, bool *rounded) {
  for (int usual : usual_rpms)
    if (within(rpm, usual, rpm_round_share)) {
      *rounded = true;
      return usual;
    }
  *rounded = false;
  return (int)std::lround(rpm);
}

// Whether the narrowest ranges are answered without the platter: far under
// the wait of the rows where every read waits for it.
static void find_buffer(const std::vector<model_row> *random, const std::vector<const model_row *> *plateau,
                        const model_row *narrowest_told, device_model *model) {
  std::vector<double> waits;
  for (const model_row *row : *plateau) waits.push_back(row->times.p50);
  double waited = median_of(waits);
  const model_row *narrowest = nullptr, *widest_hit = nullptr;
  for (const model_row &row : *random) {
    if (!row.trusted || !row.timed || row.bytes >= narrowest_told->bytes) continue;
    if (narrowest == nullptr || row.bytes < narrowest->bytes) narrowest = &row;
    if (row.times.p50 < buffer_hit_share * waited && (widest_hit == nullptr || row.bytes > widest_hit->bytes))
      widest_hit = &row;
  }
  std::string against = ms_text(waited) + " where the platter is waited for (p50 of " +
                        format_size(plateau->front()->bytes) + " to " + format_size(plateau->back()->bytes) +
                        ")";
  if (narrowest == nullptr) {
    model->buffer = buffer_not_told;
    model->buffer_text = "not told: no range narrower than those the turn comes from";
  } else if (narrowest->times.p50 < buffer_hit_share * waited) {
    model->buffer = buffer_serves;
    model->buffer_text = "serves the narrowest ranges, up to " + format_size(widest_hit->bytes) + ": p50 " +
                         ms_text(narrowest->times.p50) + " over " + format_size(narrowest->bytes) +
                         " against " + against;
  } else if (narrowest->times.p50 > buffer_miss_share * waited) {
    model->buffer = buffer_none;
    model->buffer_text = "none seen: reads over " + format_size(narrowest->bytes) +
                         " still wait for the platter (p50 " + ms_text(narrowest->times.p50) + " against " +
                         against + ")";
  } else {
    model->buffer = buffer_not_told;
    model->buffer_text = "not told: reads over " + format_size(narrowest->bytes) + " take " +
                         ms_text(narrowest->times.p50) + " (p50), between a buffer's answer and " + against;
  }
}

// Without a track buffer, a read of the sector after the last waits a whole
// turn from the end of the last read, and the host's own time before and
// after each read drops out of it; the spread of the wider rows' waits keeps
// the host's (its wake-up after a longer wait is slower), and reads a little
// long. So where the narrowest ranges take one time, within a few per cent,
// near the turn their spread tells, that time is the turn. Returns it in us,
// or 0; *rows are the rows it comes from, narrowest first.
static double find_whole_turn(const std::vector<model_row> *random, const model_row *narrowest_told,
                              double spread_turn, std::vector<const model_row *> *rows) {
  std::vector<double> turns;
  rows->clear();
  for (const model_row &row : *random) {
    const read_times &t = row.times;
    if (!row.trusted || !row.timed || row.reads < turn_least_reads || row.bytes >= narrowest_told->bytes)
      continue;
    if (t.p75 - t.p25 > whole_turn_spread_share * t.p50 || !within(t.p50, spread_turn, whole_turn_share))
      continue;
    turns.push_back(t.p50);
    rows->push_back(&row);
  }
  // One row alone may be a chance: a window of a turn that happens to fit.
  if (rows->size() < 2) return 0;
  std::sort(rows->begin(), rows->end(),
            [](const model_row *a, const model_row *b) { return a->bytes < b->bytes; });
  return median_of(turns);
}

static bool is_rotating(const model_input *input, device_model *model) {
  std::vector<const model_row *> random = trusted_rows(&input->random);
  if (random.size() < 2) return false;
  const model_row *widest =
      *std::max_element(random.begin(), random.end(),
                        [](const model_row *a, const model_row *b) { return a->bytes < b->bytes; });
  std::vector<const model_row *> plateau;
  const model_row *narrowest = nullptr;
  double spread_turn = find_turn(&input->random, &plateau, &narrowest);
  if (spread_turn == 0 || widest->us_per_read < rotating_least_wait_share * spread_turn) return false;
  find_buffer(&input->random, &plateau, narrowest, model);
  std::vector<const model_row *> told;  // the rows the turn comes from
  double turn =
      model->buffer == buffer_none ? find_whole_turn(&input->random, narrowest, spread_turn, &told) : 0;
  model->turn_whole = turn > 0;
  if (!model->turn_whole) turn = spread_turn, told = plateau;
  model->turn_ms = turn / 1000;
  model->measured_rpm = 60e6 / turn;
  model->shown_rpm = round_rpm(model->measured_rpm, &model->rpm_rounded);
  model->turn_rows = (int)told.size();
  model->turn_from_bytes = told.front()->bytes, model->turn_to_bytes = told.back()->bytes;
  model->turn_reads = 0;
  for (const model_row *row : told) model->turn_reads += row->reads;
  model->access_ms = widest->us_per_read / 1000;
  model->access_range_bytes = widest->bytes;
  // The fastest read where reads wait for the platter and move least: one
  // that neither moved nor waited, so the overhead alone.
  model->overhead_ms = narrowest->times.min / 1000;
  double seek = model->access_ms - model->turn_ms / 2 - model->overhead_ms;
  if (widest->bytes <= plateau.back()->bytes)
    model->seek_note = "not measured: no range wider than those the turn comes from";
  else if (seek <= 0)
    model->seek_note = "none measured: reads across " + format_size(widest->bytes) +
                       " take no longer than half a turn and the overhead";
  else
    model->seek_ms = seek;
  model->basis = "reads over " + format_size(plateau.front()->bytes) + " to " +
                 format_size(plateau.back()->bytes) + " wait a time spread evenly over one turn of " +
                 ms_text(spread_turn) + "; reads across " + format_size(widest->bytes) + " take " +
                 ms_text(widest->us_per_read);
  return true;
}

// A random row's typical read: its median where its reads were timed (a
// stall of the machine moves the mean, not the median), else its mean.
static double typical_us(const model_row *row) { return row->timed ? row->times.p50 : row->us_per_read; }

// The random curve's two ends and its extremes, by the typical read.
struct random_span {
  const model_row *widest, *narrowest;
  double fastest_us, slowest_us;
};

static bool span_random(const model_input *input, random_span *span) {
  std::vector<const model_row *> random = trusted_rows(&input->random);
  if (random.size() < 2) return false;
  *span = {random[0], random[0], typical_us(random[0]), typical_us(random[0])};
  for (const model_row *row : random) {
    if (row->bytes > span->widest->bytes) span->widest = row;
    if (row->bytes < span->narrowest->bytes) span->narrowest = row;
    span->fastest_us = std::min(span->fastest_us, typical_us(row));
    span->slowest_us = std::max(span->slowest_us, typical_us(row));
  }
  return true;
}

static std::string span_text(const random_span *span) {
  const char *what = span->widest->timed ? " (p50)" : " (mean)";
  return "random reads take " + format_fixed(typical_us(span->narrowest), 1) + " us over " +
         format_size(span->narrowest->bytes) + " and " + format_fixed(typical_us(span->widest), 1) +
         " us across " + format_size(span->widest->bytes) + what;
}

// No read waits for anything that moves: every range answered in well under
// a millisecond, no wider range much slower than the narrowest.
static bool is_flash_like(const model_input *input, device_model *model) {
  random_span span;
  if (!span_random(input, &span) || span.slowest_us > flash_slowest_us ||
      span.slowest_us > flash_spread_ratio * span.fastest_us)
    return false;
  model->basis = span_text(&span) + ": no read waits for a platter or an arm";
  if (span.slowest_us > flash_flat_ratio * span.fastest_us)
    model->basis += "; not flat, though: reads of some ranges take up to " +
                    format_fixed(span.slowest_us / span.fastest_us, 1) +
                    " times others', as where a cache in front of it answers";
  return true;
}

// Why no class fits.
static std::string unclear_reason(const model_input *input) {
  random_span span;
  if (!span_random(input, &span)) return "too few random rows measured long enough to tell";
  bool timed = false;
  for (const model_row &row : input->random) timed = timed || row.timed;
  if (span.slowest_us <= flash_flat_ratio * span.fastest_us && span.slowest_us > flash_slowest_us)
    return span_text(&span) + ": too slow for flash, and no turn of a platter in their times";
  if (!timed) return span_text(&span) + ", but the capture has no read times to find a turn of a platter in";
  return span_text(&span) + ", but their times show no turn of a platter";
}

// The sequential peak against what the link can carry.
static void check_link(const model_input *input, device_model *model) {
  for (const model_row *row : trusted_rows(&input->sequential))
    model->peak_mib_per_s = std::max(model->peak_mib_per_s, row->mib_per_s);
  if (input->link.empty() || !(input->link_bytes_per_s > 0)) return;
  model->link = input->link;
  model->link_mib_per_s = input->link_bytes_per_s / 1048576;
  model->peak_over_link = model->peak_mib_per_s > model->link_mib_per_s;
}

void model_device(const model_input *input, device_model *model) {
  *model = device_model{};
  check_link(input, model);
  // A limit before a cache: a volume held to a rate may sit on memory, and
  // its rate is what its user gets.
  if (is_beyond_link(input, model))
    model->kind = kind_cache;
  else if (is_read_limited(input, model))
    model->kind = kind_rate_limited;
  else if (is_fast_as_memory(input, model))
    model->kind = kind_cache;
  else if (is_rotating(input, model))
    model->kind = kind_rotating;
  else if (is_speed_limited(input, model))
    model->kind = kind_rate_limited;
  else if (is_flash_like(input, model))
    model->kind = kind_flash_like;
  else
    model->kind = kind_unclear, model->basis = unclear_reason(input);
}

void describe_device_model(const device_model *m, std::vector<model_line> *lines) {
  lines->clear();
  lines->push_back({"behaves like", std::string(kind_name(m->kind)) + " (" + m->basis + ")"});
  if (m->kind == kind_rotating) {
    std::string rows = m->turn_rows == 1
                           ? "the range " + format_size(m->turn_from_bytes)
                           : std::to_string(m->turn_rows) + " ranges, " + format_size(m->turn_from_bytes) +
                                 " to " + format_size(m->turn_to_bytes);
    std::string turn =
        "a turn of " + format_fixed(m->turn_ms, 2) + " ms " +
        (m->turn_whole ? "from the median of " + format_fixed(m->turn_reads, 0) + " reads over " + rows +
                             ", each a whole turn's wait for the sector after the last"
                       : "from the spread of " + format_fixed(m->turn_reads, 0) + " reads over " + rows);
    std::string measured = format_fixed(m->measured_rpm, 0) + " rpm";
    lines->push_back({"rotation", std::to_string(m->shown_rpm) + " rpm (" +
                                      (m->rpm_rounded ? "measured " + measured + ", within " +
                                                            format_fixed(rpm_round_share * 100, 0) +
                                                            " % of this usual speed"
                                                      : "as measured: no usual speed within " +
                                                            format_fixed(rpm_round_share * 100, 0) + " %") +
                                      "; " + turn + ")"});
    lines->push_back({"average access", format_fixed(m->access_ms, 2) + " ms (the mean read across " +
                                            format_size(m->access_range_bytes) + ", the widest range)"});
    lines->push_back(
        {"average seek", m->seek_note.empty()
                             ? format_fixed(m->seek_ms, 2) + " ms (the access less half a turn, " +
                                   format_fixed(m->turn_ms / 2, 2) + " ms, and the overhead, " +
                                   format_fixed(m->overhead_ms, 2) +
                                   " ms: the fastest read where reads wait for the platter and move least)"
                             : m->seek_note});
    lines->push_back({"track buffer", m->buffer_text});
  } else if (m->limit_reads_per_s > 0) {
    lines->push_back({"limit", format_fixed(m->limit_reads_per_s, 0) + " reads/s (one read every " +
                                   format_fixed(1e6 / m->limit_reads_per_s, 1) + " us)"});
  } else if (m->limit_mib_per_s > 0) {
    lines->push_back({"limit", format_fixed(m->limit_mib_per_s, 1) +
                                   " MiB/s (the speed the sequential rows level off at)"});
  }
  if (!m->link.empty())
    lines->push_back(
        {"link",
         m->link + ", at most " + format_fixed(m->link_mib_per_s, 1) + " MiB/s" +
             (m->peak_mib_per_s == 0 ? std::string(": no sequential row to hold against it")
              : m->peak_over_link
                  ? "; the sequential peak, " + format_fixed(m->peak_mib_per_s, 1) +
                        " MiB/s, is faster than it can carry: that figure is a cache's, not the device's"
                  : "; the sequential peak, " + format_fixed(m->peak_mib_per_s, 1) +
                        " MiB/s, is within it")});
}
