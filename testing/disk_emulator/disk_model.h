// The timing of a rotating drive: when a read finishes, given the drive's
// parameters, its state and the time the read arrives. Pure: the caller
// passes the time (nanoseconds of any monotonic clock) and keeps the state.
//
// Geometry: one head, the same bytes on every track (no zones). Offset o is
// byte o % track_bytes of track o / track_bytes; the last track may be short.
// The platter turns once every 60 / rpm s, at angle 0 at time 0 of the
// caller's clock, and byte x of track k passes under the head at the times
// x * turn / track_bytes + k * track_to_track (modulo the turn): each track
// starts a track-to-track seek later round the platter than the one before
// (track skew), so a transfer that crosses into the next track costs that
// seek and goes on without waiting for the platter.
//
// Seek over d tracks: 0 for d = 0, else
//   track_to_track + (full_stroke - track_to_track) * sqrt((d - 1) / (tracks - 2)),
// which is track_to_track for d = 1 and full_stroke for d = tracks - 1 (on a
// drive of two tracks, track_to_track alone).
//
// A read, in this order: waits for the read before it to finish (one at a
// time); pays wake_ms first when the drive was idle for spin_down_ms or more
// (the platter had stopped, and the track buffer is lost); pays the command
// overhead, on every read; then is answered from the track buffer, or seeks
// to the track of its first byte, waits until that byte comes under the head,
// and transfers at track_bytes per turn.
//
// The track buffer (track_buffer on): after a read from the platter the drive
// goes on reading its last track to the end as the platter turns
// (read-ahead); the buffer holds that track from the read's first byte on it.
// A read whose first byte is in the buffer's part of the track finishes once
// its last byte has been read ahead: at once (after the overhead alone) when
// it already has been, else when that byte passes under the head; a read that
// runs past the track's end goes on into the next track as the read-ahead
// would, or, when the read-ahead had already reached the end, seeks there
// from the buffered track. Any other read drops the buffer and fills it anew.
#pragma once

#include <cstdint>

struct disk_model {
  int64_t size_bytes = 64 << 20;    // capacity
  double rpm = 7200;                // turns per minute
  int64_t track_bytes = 512 << 10;  // bytes per track
  double overhead_us = 200;         // command overhead, paid on every read
  double track_to_track_ms = 0.8;   // seek to the next track (and the track skew)
  double full_stroke_ms = 15;       // seek from the first track to the last
  bool track_buffer = true;         // read-ahead of the rest of the track
  double spin_down_ms = 0;          // idle time after which the platter stops; 0: never
  double wake_ms = 3000;            // time to spin up again
};

struct disk_state {
  int64_t free_ns = 0;      // when the drive finished its latest read (idle since)
  int64_t head_track = 0;   // the track under the head
  bool buffered = false;    // the track buffer holds bytes:
  int64_t buffer_from = 0;  //   those from this offset on, to the end of its track,
  int64_t ahead_from = 0;   //   as read ahead from this offset on, under the head
  int64_t ahead_ns = 0;     //   from this time on
};

// The drive as it is at now_ns: spinning, head on track 0, buffer empty,
// idle since now_ns.
void start_disk(int64_t now_ns, disk_state *state);

// The time a read of bytes (at least 1) at offset arriving at now_ns
// finishes; updates the state. The read must lie within the disk.
int64_t model_read(const disk_model *model, disk_state *state, int64_t now_ns, int64_t offset, int64_t bytes);

// The number of tracks, the last one counted when short.
int64_t count_tracks(const disk_model *model);

// The time of a seek across tracks_crossed tracks (0 or more), in ms.
double seek_ms(const disk_model *model, int64_t tracks_crossed);

// The mean seek between two places drawn at random over the whole disk, each
// track as likely as any other, in ms.
double average_seek_ms(const disk_model *model);
