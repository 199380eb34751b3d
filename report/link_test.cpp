// The link read back from a device line, and what it carries, against
// figures worked by hand: line rate times data bits per line bit, over 8.
#include <gtest/gtest.h>

#include "link.h"

namespace {

struct known_case {
  const char *device, *name;
  double mb_per_s;  // 10^6 bytes a second
};

TEST(link, carries_what_its_rate_and_coding_leave) {
  const known_case cases[] = {
      {"/dev/sda, transport ata, link SATA 1.5 Gb/s", "SATA 1.5 Gb/s", 150},
      {"/dev/sda, transport ata, link SATA 3.0 Gb/s", "SATA 3.0 Gb/s", 300},
      {"/dev/sda, transport ata, link SATA 6.0 Gb/s", "SATA 6.0 Gb/s", 600},
      {"/dev/nvme0n1, link PCIe 2.5 GT/s x1", "PCIe 2.5 GT/s x1", 250},
      {"/dev/nvme0n1, link PCIe 5.0 GT/s x4", "PCIe 5.0 GT/s x4", 2000},
      {"/dev/nvme0n1, link PCIe 8.0 GT/s x4", "PCIe 8.0 GT/s x4", 3938.461538},
      {"/dev/nvme0n1, link PCIe 16.0 GT/s x2", "PCIe 16.0 GT/s x2", 3938.461538},
      {"/dev/nvme0n1, link PCIe 32.0 GT/s x4", "PCIe 32.0 GT/s x4", 15753.846154},
      {"/dev/nvme0n1, link PCIe 64.0 GT/s x16", "PCIe 64.0 GT/s x16", 126030.769231},
      {"/dev/nvme0n1, link PCIe 8 GT/s", "PCIe 8 GT/s", 984.615385},
      {"/dev/sdb, link USB 1.5 Mb/s", "USB 1.5 Mb/s", 0.1875},
      {"/dev/sdb, link USB 12 Mb/s", "USB 12 Mb/s", 1.5},
      {"/dev/sdb, link USB 480 Mb/s", "USB 480 Mb/s", 60},
      {"/dev/sdb, link USB 5 Gb/s", "USB 5 Gb/s", 500},
      {"/dev/sdb, link USB 5000 Mb/s", "USB 5000 Mb/s", 500},
      {"/dev/sdb, link USB 10 Gb/s", "USB 10 Gb/s", 1212.121212},
      {"/dev/sdb, link USB 20 Gb/s", "USB 20 Gb/s", 2424.242424},
      // Other spellings of the units, with or without a space.
      {"/dev/sda, link SATA 6.0 Gbps", "SATA 6.0 Gbps", 600},
      {"/dev/sda, link SATA 3 Gbit/s", "SATA 3 Gbit/s", 300},
      {"/dev/sda, link SATA 1.50Gb/s", "SATA 1.50Gb/s", 150},
      {"/dev/sdb, link USB 480 Mbps", "USB 480 Mbps", 60},
      {"/dev/sdb, link USB 480 Mbit/s", "USB 480 Mbit/s", 60},
      // The fact ends at the next fact or device, and the last one is taken.
      {"/dev/sda, transport ata, link SATA 6.0 Gb/s, loop device", "SATA 6.0 Gb/s", 600},
      {"/dev/sda, link SATA 1.5 Gb/s; /dev/sdb, link USB 480 Mb/s", "USB 480 Mb/s", 60},
      {"/dev/sda, link SATA 3.0 Gb/s; /dev/loop0, loop device backed by /x, link SATA.img", "SATA 3.0 Gb/s",
       300},
  };
  for (const known_case &c : cases) {
    device_link link = {"untouched", -1};
    std::string why;
    ASSERT_EQ(0, find_link(c.device, &link, &why)) << c.device << ": " << why;
    EXPECT_EQ(c.name, link.name) << c.device;
    EXPECT_NEAR(c.mb_per_s, link.bytes_per_second / 1e6, 1e-6) << c.device;
  }
}

struct unknown_case {
  const char *device, *why;
};

TEST(link, refuses_what_names_no_link_it_knows) {
  const unknown_case cases[] = {
      {"/dev/sda, transport ata", "names no link"},
      {"/dev/loop0, loop device backed by /a file named link SATA.img", "names no link"},
      {"/dev/sda, linked SATA 6.0 Gb/s", "names no link"},
      {"/dev/loop0, loop device backed by /x, link SATA.img",
       "names no link of a known form (SATA, PCIe or USB, then a rate and its unit): \"link SATA.img\""},
      {"/dev/sda, link SATA 6.0 Gb/s.img",
       "names no link of a known form (SATA, PCIe or USB, then a rate and "
       "its unit): \"link SATA 6.0 Gb/s.img\""},
      {"/dev/sda, link SATA 6.0 Gb/s,x", "names no link of a known form"},
      {"/dev/sda, link sata 6.0 Gb/s", "names no link of a known form"},
      {"/dev/sda, link Thunderbolt 40 Gb/s", "names no link of a known form"},
      {"/dev/sda, link SATA -6 Gb/s", "names no link of a known form"},
      {"/dev/sda, link SATA 6. Gb/s", "names no link of a known form"},
      {"/dev/sda, link SATA .6 Gb/s", "names no link of a known form"},
      {"/dev/sda, link SATA 6e0 Gb/s", "names no link of a known form"},
      {"/dev/sda, link SATA 6.0  Gb/s", "names no link of a known form"},
      {"/dev/sda, link SATA 6.0 GB/s", "names no link of a known form"},
      {"/dev/sdb, link USB 480 Mb/s x2", "names no link of a known form"},
      {"/dev/nvme0n1, link PCIe 8.0 GT/s x", "names no link of a known form"},
      {"/dev/sda, link SATA 12 Gb/s", "link SATA 12 Gb/s: no SATA link of that rate is known"},
      {"/dev/sda, link SATA 6.0 Mb/s", "link SATA 6.0 Mb/s: no SATA link of that rate is known"},
      {"/dev/sda, link SATA 480 Mb/s", "link SATA 480 Mb/s: no SATA link of that rate is known"},
      {"/dev/sdb, link USB 0.0004805 Gb/s", "link USB 0.0004805 Gb/s: no USB link of that rate is known"},
      {"/dev/sda, link SATA 6000000000000000000000 Gb/s",
       "link SATA 6000000000000000000000 Gb/s: no SATA link of that rate is known"},
      {"/dev/sda, link SATA 1.5000000000000001 Gb/s",
       "link SATA 1.5000000000000001 Gb/s: no SATA link of that rate is known"},
      {"/dev/nvme0n1, link PCIe 8.0 GT/s x3",
       "link PCIe 8.0 GT/s x3: a PCIe link is 1, 2, 4, 8, 12, 16 or 32 lanes wide"},
      {"/dev/nvme0n1, link PCIe 8.0 GT/s x4294967300",
       "link PCIe 8.0 GT/s x4294967300: a PCIe link is 1, 2, 4, 8, 12, 16 or 32 lanes wide"},
      // The last link fact counts, even when an earlier one is known.
      {"/dev/sda, link SATA 6.0 Gb/s; /dev/sdb, link SATA 12 Gb/s", "link SATA 12 Gb/s: no SATA link"},
  };
  for (const unknown_case &c : cases) {
    device_link link = {"untouched", -1};
    std::string why;
    EXPECT_EQ(-1, find_link(c.device, &link, &why)) << c.device;
    EXPECT_EQ(0u, why.find(c.why)) << c.device << ": " << why;
    EXPECT_EQ("untouched", link.name) << c.device;
  }
}

}  // namespace
