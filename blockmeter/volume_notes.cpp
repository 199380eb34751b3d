#include "volume_notes.h"

#include <cstdio>
#include <string>
#include <vector>

#include "terminal_text.h"

// A size in the largest binary unit that leaves at least 1 of it, with one
// decimal where it is not whole: "64 MiB", "465.8 GiB".
static std::string format_size(int64_t bytes) {
  static const char *const units[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  int unit = 0;
  while (unit < 6 && bytes >= (int64_t)1 << (10 * (unit + 1))) ++unit;
  int64_t whole = (int64_t)1 << (10 * unit);
  char text[32];
  if (bytes % whole == 0)
    snprintf(text, sizeof text, "%lld %s", (long long)(bytes / whole), units[unit]);
  else
    snprintf(text, sizeof text, "%.1f %s", (double)bytes / (double)whole, units[unit]);
  return text;
}

static void add_fact(std::string *text, const std::string &fact) { *text += ", " + fact; }

// One device as the device line shows it: its node, then what is known of it.
static std::string describe_device(const hdd_device *device) {
  std::string text = device->node;
  if (!device->disk.empty()) text += " (partition of " + device->disk + ")";
  if (!device->system_name.empty()) text += " (" + device->system_name + ")";
  if (!device->file_system.empty()) add_fact(&text, device->file_system + " file system");
  if (device->bytes > 0) add_fact(&text, format_size(device->bytes));
  if (device->logical_sector > 0)
    add_fact(&text, "logical sector " + std::to_string(device->logical_sector) + " B");
  if (device->physical_sector > 0)
    add_fact(&text, "physical sector " + std::to_string(device->physical_sector) + " B");
  if (device->rotational >= 0) add_fact(&text, device->rotational ? "rotational" : "non-rotational");
  if (!device->model.empty()) add_fact(&text, "model \"" + device->model + "\"");
  if (!device->transport.empty()) add_fact(&text, "transport " + device->transport);
  if (!device->link.empty()) add_fact(&text, "link " + device->link);
  if (device->loop_direct_io >= 0) {
    add_fact(&text,
             device->loop_backing.empty() ? "loop device" : "loop device backed by " + device->loop_backing);
    add_fact(&text, device->loop_direct_io ? "direct I/O on" : "direct I/O off");
  }
  return text;
}

// Reads of a loop device without direct I/O go through the page cache of its
// backing file, so they are the cache's speed, not the disk's.
static void warn_of_buffered_loop(const std::string &shown, const hdd_device *device) {
  if (device->loop_direct_io != 0) return;
  // A partition's loop device is its disk.
  std::string loop = terminal_text(device->disk.empty() ? device->node : device->disk);
  std::string backing = terminal_text(device->loop_backing);
  std::string what = loop == shown
                         ? shown + " is a loop device without direct I/O"
                         : shown + " is read through the loop device " + loop + ", which has no direct I/O";
  fprintf(
      stderr,
      "blockmeter: warning: %s: its reads go through the page cache of its backing file%s%s, so the speeds "
      "shown are the cache's, not the disk's; attach it with direct I/O: losetup --direct-io=on %s\n",
      what.c_str(), backing.empty() ? "" : " ", backing.c_str(), loop.c_str());
}

// Which device the reads of root reach, in one line, then a warning for any
// of them whose reads the page cache would answer.
static void note_devices(const std::string &shown, const char *root, intptr_t handle) {
  std::vector<hdd_device> devices;
  if (get_hdd_devices(root, handle, &devices) != 0 || devices.empty()) {
    char reason[1024];
    describe_hdd_error(hdd_last_error(), reason, sizeof reason);
    fprintf(stderr, "blockmeter: %s: reading an unknown device: %s\n", shown.c_str(),
            terminal_text(reason).c_str());
    return;
  }
  std::string text;
  for (const hdd_device &device : devices) text += (text.empty() ? "" : "; ") + describe_device(&device);
  fprintf(stderr, "blockmeter: %s: reading %s\n", shown.c_str(), terminal_text(text).c_str());
  for (const hdd_device &device : devices) warn_of_buffered_loop(shown, &device);
}

static double percent_of(int64_t part, int64_t whole) { return 100.0 * (double)part / (double)whole; }

// Reads of a file's holes and unwritten extents are answered without the
// device, and reads of its compressed extents from the page cache: either
// would make its speeds look higher than they are.
static void warn_of_unbacked_blocks(const std::string &shown, intptr_t handle) {
  hdd_backing backing = {};
  if (get_hdd_backing(handle, &backing) != 0 || backing.bytes <= 0) return;
  if (backing.unbacked_bytes > 0)
    fprintf(stderr,
            "blockmeter: warning: %.1f%% of %s (%lld of %lld bytes) is holes or unwritten extents, which are "
            "not on the device: reads there never reach it, so the speeds shown are too high; write the file "
            "with real data first\n",
            percent_of(backing.unbacked_bytes, backing.bytes), shown.c_str(),
            (long long)backing.unbacked_bytes, (long long)backing.bytes);
  if (backing.encoded_bytes > 0)
    fprintf(stderr,
            "blockmeter: warning: %.1f%% of %s (%lld of %lld bytes) is in compressed extents, which its file "
            "system reads through the page cache: reads there do not show the device's speed, so the speeds "
            "shown are too high; write the file anew with compression off (chattr +m while it is empty), or "
            "name its device instead\n",
            percent_of(backing.encoded_bytes, backing.bytes), shown.c_str(), (long long)backing.encoded_bytes,
            (long long)backing.bytes);
}

void note_volume(const char *root, intptr_t handle) {
  std::string shown = terminal_text(root);
  note_devices(shown, root, handle);
  warn_of_unbacked_blocks(shown, handle);
}
