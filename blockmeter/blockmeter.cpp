#include "blockmeter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "hdd.h"
#include "priority.h"
#include "read_tests.h"

constexpr int multisect_reps = 1000;
constexpr int multisect_max_blocks = 200;
constexpr int multisect_steps = 20;
constexpr int randomread_reads = 100;

static void report_hdd_failure(const char *what, const char *root) {
  char reason[1024], volume[1024];
  describe_hdd_error(hdd_last_error(), reason, sizeof reason);
  name_hdd_volume(root, volume, sizeof volume);
  fprintf(stderr, "blockmeter: %s %s: %s\n", what, volume, reason);
}

// Reads of a file's holes and unwritten extents are answered without the
// device, and would make its speeds look higher than they are.
static void warn_of_unbacked_blocks(const char *root, intptr_t handle) {
  hdd_backing backing = {};
  if (get_hdd_backing(handle, &backing) != 0 || backing.unbacked_bytes <= 0 || backing.bytes <= 0) return;
  fprintf(stderr,
          "blockmeter: warning: %.1f%% of %s (%lld of %lld bytes) is holes or unwritten extents, which are "
          "not on the device: reads there never reach it, so the speeds shown are too high; write the file "
          "with real data first\n",
          100.0 * (double)backing.unbacked_bytes / (double)backing.bytes, root,
          (long long)backing.unbacked_bytes, (long long)backing.bytes);
}

int test_hdd(const char *root) {
  if (const char *problem = hdd_root_problem(root)) {
    fprintf(stderr, "blockmeter: cannot measure %s: %s\n", root, problem);
    return -1;
  }
  hdd_info info = {};
  if (get_hdd_info(root, &info) != 0) {
    report_hdd_failure("cannot read the geometry of", root);
    return -1;
  }
  printf("drive %s information: block_size=%i, n_blocks=%lli\n", root, (int)info.block_size,
         (long long)info.n_blocks);
  if (info.n_blocks <= 0) {
    fprintf(stderr, "blockmeter: nothing to measure: %s has 0 blocks of %u bytes\n", root, info.block_size);
    return -1;
  }
  intptr_t handle = open_hdd(root);
  if (handle < 0) {
    puts("can't open drive");
    report_hdd_failure("cannot open", root);
    return -1;
  }
  warn_of_unbacked_blocks(root, handle);
  name_read_reports(root);
  puts("Multisector read test\n---------------------------");
  int sequential = test_multisect(handle, &info, multisect_reps, multisect_max_blocks, multisect_steps);
  puts("Random read test\n---------------------------");
  int random = test_randomread(handle, &info, randomread_reads);
  close_hdd(handle);
  return sequential == 0 && random == 0 ? 0 : -1;
}

static bool is_help_option(const char *arg) {
  return strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0 ||
         (hdd_help_option != nullptr && strcmp(arg, hdd_help_option) == 0);
}

static void print_usage() {
  printf(
      "Usage: blockmeter [ROOT...]\n"
      "       blockmeter --help | --version\n"
      "\n"
      "Measures how fast each volume named can be read raw, past the system's cache:\n"
      "reads of 1 to 200 blocks from the start of the volume, then single blocks at\n"
      "random over ranges halved pass by pass. Speeds are in MiB per second.\n"
      "\n"
      "%s"
      "\n"
      "Standard output: the banner, each volume's geometry and result tables.\n"
      "Standard error: why a volume could not be measured, and reads that failed.\n"
      "Exit status: 0 when every volume was measured in full, else -1 (shown as\n"
      "255 where exit statuses run from 0 to 255).\n",
      hdd_root_usage);
}

// Every line must have reached standard output: a run whose results were
// lost there (a full disk, a closed pipe) is no success. Returns status, or
// -1 when a write failed.
static int check_standard_output(int status) {
  int code = errno;  // the failed write's, when it was the last call to fail
  if (fflush(stdout) != 0)
    code = errno;
  else if (!ferror(stdout))
    return status;
  fprintf(stderr, "blockmeter: cannot write to standard output: %s\n",
          code != 0 ? strerror(code) : "write error");
  return -1;
}

static int run_roots(int argc, char **argv) {
  if (argc == 2 && is_help_option(argv[1])) {
    print_usage();
    return 0;
  }
  if (argc == 2 && strcmp(argv[1], "--version") == 0) {
    puts("blockmeter " BLOCKMETER_VERSION);
    return 0;
  }
  // Unbuffered, so every row reaches the console the moment it is measured.
  setbuf(stdout, nullptr);
  puts("blockmeter " BLOCKMETER_VERSION
       " - raw read speed of a volume, past the system's cache."
       " (c) 2026 the blockmeter authors.");
  puts("Questions and bug reports: the blockmeter maintainers, through the project's issue tracker.");
  raise_priority();
  if (argc <= 1) return test_hdd(default_hdd_root);
  int status = 0;
  for (int i = 1; i < argc; ++i)
    if (test_hdd(argv[i]) != 0) status = -1;
  return status;
}

int run_blockmeter(int argc, char **argv) { return check_standard_output(run_roots(argc, argv)); }
