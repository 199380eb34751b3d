// A loop device over a file, as `losetup --read-only --direct-io=on` attaches
// one, that lives no longer than whoever attached it: the kernel detaches it
// once its last open descriptor is closed (autoclear), so a process that ends
// in any way leaves no loop device behind.
#pragma once

#include <string>

// Attaches the file at path to a free loop device, read-only, with direct
// I/O, and checks that the kernel took direct I/O. Returns 0 with *node
// ("/dev/loopN") and *fd, a read-only descriptor of the device whose closing
// detaches it (once no one else holds it open); or -1 with why, and *refused
// set when the system refused (no loop devices, no rights, no direct I/O on
// this file) rather than failed.
int attach_loop(const std::string &path, std::string *node, int *fd, bool *refused, std::string *why);
