// A rotating drive for a test to read: disk-emulator (testing/disk_emulator)
// serving an image with the timing of disk_model.h, attached to a loop device
// read-only with direct I/O. Needs root, FUSE and loop devices.
//
// Nothing outlives the test: the emulator ends with the process that started
// it, and then unmounts its file system and lets go of the loop device, which
// the kernel detaches once no one holds it open; so a test that fails or is
// killed leaves no process, mount or loop device behind (only its folder).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "disk_model.h"
#include "run_program.h"

struct emulated_disk {
  std::string node;           // the loop device: "/dev/loopN"
  std::string folder;         // a temporary folder of its own, holding:
  std::string image;          //   mnt/disk.img, the image on the emulator's mount
  std::string log;            //   reads.log, a line per read the emulator served:
                              //   "OFFSET BYTES ARRIVED_NS DONE_NS" (CLOCK_MONOTONIC)
  int pid = -1;               // the emulator's process; -1 when none runs
  uint64_t image_device = 0;  // the image's device number, which tells its loop
                              // device from one attached to another file since
  bool refused = false;       // set when start_emulated_disk failed because the
                              // system refused (see there)
};

// Starts disk-emulator with model in a new temporary folder and attaches its
// image to a loop device, waiting 10 s at most. Returns 0 with *disk filled
// in; or -1 with why, having stopped whatever it started, and disk->refused
// set when the system refused: not root, no FUSE, no loop device, no direct
// I/O on a loop device over FUSE, or disk-emulator not built here (libfuse 3
// missing).
int start_emulated_disk(const disk_model *model, emulated_disk *disk, std::string *why);

// Ends the emulator (SIGTERM, then SIGKILL after 10 s), unmounts its file
// system if it is still there, waits up to 5 s for the loop device to be
// detached and removes the folder. Returns 0, or -1 with why when something
// was left behind (a loop device still held open by someone else is then
// detached when they close it). A disk that was never started is left alone.
int stop_emulated_disk(emulated_disk *disk, std::string *why);

// Whether the disk's loop device is still attached to its image. Its node,
// opened and closed here, is detached at once when no one else holds it open.
bool is_emulated_disk_attached(const emulated_disk *disk);

// In a test or its SetUp: starts *disk with *model, or ends the test,
// skipped (failed under CI) when the system refused, failed otherwise. Stop
// the disk in TearDown, which runs in every case.
#define START_EMULATED_DISK(model, disk)                    \
  do {                                                      \
    std::string why_;                                       \
    if (start_emulated_disk((model), (disk), &why_) != 0) { \
      if ((disk)->refused) SKIP_OR_FAIL(why_);              \
      FAIL() << "cannot start an emulated disk: " << why_;  \
    }                                                       \
  } while (0)
