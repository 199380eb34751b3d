#include "disk_model.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

static double turn_ns(const disk_model *model) { return 60e9 / model->rpm; }

static double ms_to_ns(double ms) { return ms * 1e6; }

void start_disk(int64_t now_ns, disk_state *state) {
  *state = disk_state{};
  state->free_ns = now_ns;
}

int64_t count_tracks(const disk_model *model) {
  return (model->size_bytes + model->track_bytes - 1) / model->track_bytes;
}

double seek_ms(const disk_model *model, int64_t tracks_crossed) {
  if (tracks_crossed == 0) return 0;
  int64_t tracks = count_tracks(model);
  if (tracks <= 2) return model->track_to_track_ms;
  double share = std::sqrt((double)(tracks_crossed - 1) / (double)(tracks - 2));
  return model->track_to_track_ms + (model->full_stroke_ms - model->track_to_track_ms) * share;
}

double average_seek_ms(const disk_model *model) {
  int64_t tracks = count_tracks(model);
  double sum = 0;
  for (int64_t d = 1; d < tracks; ++d) sum += 2.0 * (double)(tracks - d) * seek_ms(model, d);
  return sum / ((double)tracks * (double)tracks);
}

// The time bytes [from, to) take to pass under the head, the crossings into
// the next track included.
static double transfer_ns(const disk_model *model, int64_t from, int64_t to) {
  if (to <= from) return 0;
  int64_t crossings = (to - 1) / model->track_bytes - from / model->track_bytes;
  return (double)(to - from) * turn_ns(model) / (double)model->track_bytes +
         (double)crossings * ms_to_ns(model->track_to_track_ms);
}

// The first time at or after t at which the byte at offset comes under the head.
static double next_pass_ns(const disk_model *model, double t, int64_t offset) {
  double turn = turn_ns(model);
  int64_t track = offset / model->track_bytes;
  double phase = (double)(offset % model->track_bytes) * turn / (double)model->track_bytes +
                 std::fmod((double)track * ms_to_ns(model->track_to_track_ms), turn);
  double wait = std::fmod(phase - std::fmod(t, turn), turn);
  if (wait < 0) wait += turn;
  if (wait >= turn) wait -= turn;
  return t + wait;
}

// A read from the platter of [from, to), the command taken at t.
static double read_platter_ns(const disk_model *model, const disk_state *state, double t, int64_t from,
                              int64_t to) {
  int64_t track = from / model->track_bytes;
  double arrived = t + ms_to_ns(seek_ms(model, std::llabs(track - state->head_track)));
  return next_pass_ns(model, arrived, from) + transfer_ns(model, from, to);
}

int64_t model_read(const disk_model *model, disk_state *state, int64_t now_ns, int64_t offset,
                   int64_t bytes) {
  int64_t end = offset + bytes;
  double t = (double)std::max(now_ns, state->free_ns);
  if (model->spin_down_ms > 0 && t - (double)state->free_ns >= ms_to_ns(model->spin_down_ms)) {
    t += ms_to_ns(model->wake_ms);
    state->buffered = false;
  }
  t += model->overhead_us * 1e3;

  double done = 0;
  int64_t track_end = 0;
  if (state->buffered) track_end = (state->buffer_from / model->track_bytes + 1) * model->track_bytes;
  bool in_buffer = state->buffered && offset >= state->buffer_from && offset < track_end;
  if (in_buffer && end <= track_end) {
    // Stays on the buffered track: the buffer, and the read-ahead, go on.
    done = std::max(t, (double)state->ahead_ns + transfer_ns(model, state->ahead_from, end));
    state->free_ns = std::llround(done);
    return state->free_ns;
  }
  if (!in_buffer) {
    done = read_platter_ns(model, state, t, offset, end);
  } else if (t <= (double)state->ahead_ns + transfer_ns(model, state->ahead_from, track_end)) {
    // Runs past the buffered track while the read-ahead is still on it.
    done = (double)state->ahead_ns + transfer_ns(model, state->ahead_from, end);
  } else {
    done = read_platter_ns(model, state, t, track_end, end);
  }
  int64_t last_track = (end - 1) / model->track_bytes;
  state->free_ns = std::llround(done);
  state->head_track = last_track;
  state->buffered = model->track_buffer;
  state->buffer_from = std::max(offset, last_track * model->track_bytes);
  state->ahead_from = end;
  state->ahead_ns = state->free_ns;
  return state->free_ns;
}
