// The Linux drive backend linked on its own: a root replaced between the
// reading of its geometry and its opening is refused with a reason, and the
// open never waits on what replaced it; a disk's link is found in sysfs trees
// as the kernel lays them out.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "hdd.h"
#include "hdd_posix.h"
#include "run_program.h"

namespace {

constexpr int open_timeout_ms = 10000;

void write_file(const std::string &path, size_t bytes) {
  FILE *file = fopen(path.c_str(), "we");
  ASSERT_NE(nullptr, file) << path;
  for (size_t i = 0; i < bytes; ++i) fputc((int)(i * 7 % 251), file);
  fclose(file);
}

// In a child, so that an open that blocks can be ended: reads the geometry of
// root, lets swap replace root, opens it and reports "handle message". Returns
// the report, or an empty string after killing a child that did not report
// within the time allowed.
std::string open_after_swap(const std::string &root, void (*swap)(const std::string &)) {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return "pipe failed";
  pid_t pid = fork();
  if (pid == 0) {
    hdd_info info;
    char report[1500] = "geometry failed";
    if (get_hdd_info(root.c_str(), &info) == 0) {
      swap(root);
      intptr_t handle = open_hdd(root.c_str());
      char reason[1024] = "";
      if (handle < 0) describe_hdd_error(hdd_last_error(), reason, sizeof reason);
      snprintf(report, sizeof report, "%s %s", handle < 0 ? "failed" : "opened", reason);
    }
    ssize_t written = write(pipe_fds[1], report, strlen(report));
    _exit(written > 0 ? 0 : 1);
  }
  close(pipe_fds[1]);
  pollfd ready = {pipe_fds[0], POLLIN, 0};
  std::string report;
  if (pid > 0 && poll(&ready, 1, open_timeout_ms) == 1) {
    char text[1500];
    ssize_t bytes = read(pipe_fds[0], text, sizeof text);
    if (bytes > 0) report.assign(text, (size_t)bytes);
  }
  close(pipe_fds[0]);
  if (pid > 0) {
    if (report.empty()) kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  return report;
}

void keep(const std::string &) {}

void swap_for_fifo(const std::string &root) {
  std::string fifo = root + ".fifo";
  if (mkfifo(fifo.c_str(), 0600) != 0 || rename(fifo.c_str(), root.c_str()) != 0) _exit(2);
}

void swap_for_other_file(const std::string &root) {
  std::string other = root + ".other";
  FILE *file = fopen(other.c_str(), "we");
  if (file == nullptr || fputs("other", file) < 0 || fclose(file) != 0 ||
      rename(other.c_str(), root.c_str()) != 0)
    _exit(2);
}

TEST(hdd_posix, opens_only_the_file_whose_geometry_was_read) {
  std::string dir = scratch_dir("hdd_posix");
  struct swap_case {
    const char *what;
    void (*swap)(const std::string &);
    std::string expected;
  } cases[] = {
      {"left alone", keep, "opened "},
      {"swapped for a FIFO", swap_for_fifo,
       "failed it changed after its geometry was read: it is now a FIFO, not a block device or regular file"},
      {"swapped for another file", swap_for_other_file,
       "failed it was replaced by another file after its geometry was read"},
  };
  for (const swap_case &c : cases) {
    std::string root = dir + "/volume.img";
    write_file(root, 64 * 1024);
    std::string report = open_after_swap(root, c.swap);
    EXPECT_FALSE(report.empty()) << c.what << ": open_hdd did not return within " << open_timeout_ms / 1000
                                 << " s";
    EXPECT_EQ(c.expected, report) << c.what;
    unlink(root.c_str());
  }
}

struct sysfs_file {
  std::string path, text;
};

// A sysfs tree of its own in the suite's scratch folder, with a disk's folder
// and files. Returns its root.
std::string make_sysfs(const std::string &name, const std::vector<sysfs_file> &files,
                       const std::string &folder) {
  std::string sysfs = scratch_dir("hdd_posix") + "/" + name;
  std::filesystem::remove_all(sysfs);
  std::filesystem::create_directories(sysfs + folder);
  for (const sysfs_file &file : files) {
    std::filesystem::create_directories(std::filesystem::path(sysfs + file.path).parent_path());
    FILE *out = fopen((sysfs + file.path).c_str(), "we");
    EXPECT_NE(nullptr, out) << file.path;
    if (out == nullptr) continue;
    fputs(file.text.c_str(), out);
    fclose(out);
  }
  return sysfs;
}

// A PCI function's link, as sysfs writes it.
std::vector<sysfs_file> pcie_link(const std::string &function, const char *speed, const char *width) {
  return {{function + "/current_link_speed", speed + std::string("\n")},
          {function + "/current_link_width", width + std::string("\n")}};
}

// Where the kernel puts each kind of disk: the block folder under its
// controller's PCI function, the ATA port or USB device between them.
const std::string sata_disk = "/devices/pci0000:00/0000:00:1f.2/ata3/host2/target2:0:0/2:0:0:0/block/sda";
const std::string root_port = "/devices/pci0000:00/0000:00:1d.0",
                  nvme_controller = root_port + "/0000:3d:00.0",
                  nvme_disk = nvme_controller + "/nvme/nvme0/nvme0n1";
const std::string xhci = "/devices/pci0000:00/0000:00:14.0";

TEST(hdd_posix, finds_the_link_that_sysfs_tells_of_a_disk) {
  const std::vector<sysfs_file> sata = {{"/class/ata_link/link1/sata_spd", "1.5 Gbps\n"},
                                        {"/class/ata_link/link3/sata_spd", "6.0 Gbps\n"}};
  // The root port above the controller has a link of its own.
  std::vector<sysfs_file> nvme = pcie_link(root_port, "16.0 GT/s PCIe", "16");
  for (const sysfs_file &file : pcie_link(nvme_controller, "8.0 GT/s PCIe", "4")) nvme.push_back(file);
  // A 5 Gb/s stick in a 10 Gb/s hub on a 10 Gb/s port of a PCIe controller.
  std::vector<sysfs_file> usb = pcie_link(xhci, "8.0 GT/s PCIe", "1");
  for (const char *device : {"/usb2", "/usb2/2-1"}) usb.push_back({xhci + device + "/speed", "10000\n"});
  usb.push_back({xhci + "/usb2/2-1/2-1.4/speed", "5000\n"});
  struct link_case {
    const char *what;
    std::vector<sysfs_file> files;
    std::string folder;
    const char *transport, *expected;
  } cases[] = {
      {"a SATA disk: its port's link", sata, sata_disk, "ata", "SATA 6.0 Gb/s"},
      {"a partition of a SATA disk: its disk's", sata, sata_disk + "/sda1", "ata", "SATA 6.0 Gb/s"},
      {"a SATA port whose link is down",
       {{"/class/ata_link/link3/sata_spd", "<unknown>\n"}},
       sata_disk,
       "ata",
       ""},
      {"an NVMe disk: its controller's link, not its root port's", nvme, nvme_disk, "nvme",
       "PCIe 8.0 GT/s x4"},
      {"a partition of an NVMe disk", nvme, nvme_disk + "/nvme0n1p2", "nvme", "PCIe 8.0 GT/s x4"},
      {"an NVMe disk on an older kernel", pcie_link(nvme_controller, "5 GT/s", "2"), nvme_disk, "nvme",
       "PCIe 5 GT/s x2"},
      {"an NVMe controller whose link is down", pcie_link(nvme_controller, "Unknown", "0"), nvme_disk, "nvme",
       ""},
      {"an NVMe controller of no width", pcie_link(nvme_controller, "8.0 GT/s PCIe", "0"), nvme_disk, "nvme",
       ""},
      {"a USB stick behind a hub: its own speed, not its controller's PCIe link", usb,
       xhci + "/usb2/2-1/2-1.4/2-1.4:1.0/host4/target4:0:0/4:0:0:0/block/sdb", "usb", "USB 5 Gb/s"},
      {"a partition of a USB 2 disk on its port",
       {{xhci + "/usb1/speed", "480\n"}, {xhci + "/usb1/1-2/speed", "480\n"}},
       xhci + "/usb1/1-2/1-2:1.0/host5/target5:0:0/5:0:0:0/block/sdc/sdc1",
       "usb",
       "USB 480 Mb/s"},
      {"a low-speed USB device",
       {{xhci + "/usb1/1-1/speed", "1.5\n"}},
       xhci + "/usb1/1-1/1-1:1.0/host6/target6:0:0/6:0:0:0/block/sdd",
       "usb",
       "USB 1.5 Mb/s"},
      {"a disk of another transport under a PCIe link", nvme, nvme_controller + "/virtio1/block/vda",
       "virtio", ""},
  };
  int n = 0;
  for (const link_case &c : cases) {
    std::string sysfs = make_sysfs("sysfs" + std::to_string(n++), c.files, c.folder);
    EXPECT_EQ(c.expected, find_sysfs_link(sysfs, sysfs + c.folder, c.transport)) << c.what;
  }
  std::string sysfs = make_sysfs("outside", nvme, nvme_disk);
  EXPECT_EQ("", find_sysfs_link(sysfs + "/elsewhere", sysfs + nvme_disk, "nvme"))
      << "a folder outside the tree named";
}

}  // namespace
