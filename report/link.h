// The link between a device and its host, as blockmeter's device line names
// it (", link SATA 6.0 Gb/s"), and the most it can carry: no read of the
// device can be faster.
#pragma once

#include <string>
#include <string_view>

struct device_link {
  std::string name;         // as written after "link ": "PCIe 8.0 GT/s x4"
  double bytes_per_second;  // the most it carries, after its line coding, all its lanes together
};

// Finds the link in device, a device line's text after "reading "
// (report_drive::device): the last fact of the form ", link BUS RATE UNIT",
// ending the text or followed by ", " (the next fact) or "; " (the next
// device). BUS is SATA, PCIe or USB; RATE a decimal number (6, 6.0); UNIT,
// after one space or none, Gb/s, Gbps, Gbit/s, GT/s, Mb/s, Mbps or Mbit/s; a
// PCIe link may add its width, " x4" (one lane when none is given). Known,
// with what they carry:
//   SATA 1.5, 3, 6 Gb/s, coded 8b/10b: 150, 300, 600 MB/s.
//   PCIe per lane 2.5, 5 GT/s, 8b/10b: 250, 500 MB/s; 8, 16, 32, 64 GT/s,
//     128b/130b: 984.6, 1969.2, 3938.5, 7876.9 MB/s; 1, 2, 4, 8, 12, 16 or
//     32 lanes.
//   USB 1.5, 12, 480 Mb/s, counted as bits sent: 0.1875, 1.5, 60 MB/s;
//     5 Gb/s, 8b/10b: 500 MB/s; 10, 20 Gb/s, 128b/132b: 1212.1, 2424.2 MB/s.
// Returns 0 with *link filled, or -1 with *why set when device names no link,
// or a link of a rate or width not known (*link is then left untouched); *why
// quotes the fact as device has it, for the caller to escape where it goes.
int find_link(std::string_view device, device_link *link, std::string *why);
