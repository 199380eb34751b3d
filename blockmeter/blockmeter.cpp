#include "blockmeter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "hdd.h"
#include "priority.h"
#include "progress.h"
#include "read_tests.h"
#include "terminal_text.h"
#include "volume_notes.h"

constexpr int multisect_reps = 1000;
constexpr int multisect_max_blocks = 200;
constexpr int multisect_steps = 20;
constexpr int randomread_reads = 100;

static void report_hdd_failure(const char *what, const char *root) {
  char reason[1024], volume[1024];
  describe_hdd_error(hdd_last_error(), reason, sizeof reason);
  name_hdd_volume(root, volume, sizeof volume);
  fprintf(stderr, "blockmeter: %s %s: %s\n", what, terminal_text(volume).c_str(),
          terminal_text(reason).c_str());
}

int test_hdd(const char *root) {
  std::string shown = terminal_text(root);
  if (const char *problem = hdd_root_problem(root)) {
    fprintf(stderr, "blockmeter: cannot measure %s: %s\n", shown.c_str(), problem);
    return -1;
  }
  hdd_info info = {};
  if (get_hdd_info(root, &info) != 0) {
    report_hdd_failure("cannot read the geometry of", root);
    return -1;
  }
  printf("drive %s information: block_size=%i, n_blocks=%lli\n", shown.c_str(), (int)info.block_size,
         (long long)info.n_blocks);
  if (ferror(stdout)) return -1;
  if (info.n_blocks <= 0) {
    fprintf(stderr, "blockmeter: nothing to measure: %s has 0 blocks of %u bytes\n", shown.c_str(),
            info.block_size);
    return -1;
  }
  intptr_t handle = open_hdd(root);
  if (handle < 0) {
    puts("can't open drive");
    report_hdd_failure("cannot open", root);
    return -1;
  }
  note_volume(root, handle);
  name_read_reports(root);
  start_progress(root);
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
      "Standard error: the device each volume's reads reach, after each row the\n"
      "times of its reads (first, min, percentiles, max, in microseconds), why a\n"
      "volume could not be measured, and reads that failed. On a terminal, also a\n"
      "line showing which row is being measured, erased once it is done.\n"
      "Exit status: 0 when every volume was measured in full, else -1 (shown as\n"
      "255 where exit statuses run from 0 to 255).\n",
      hdd_root_usage);
}

int fail_standard_output(int code) {
  fprintf(stderr, "blockmeter: cannot write to standard output: %s\n",
          code != 0 ? strerror(code) : "write error");
  return -1;
}

// Every line must have reached standard output: a run whose results were
// lost there (a full disk, a closed pipe) is no success. Returns status, or
// -1 when a write failed.
static int check_standard_output(int status) {
  // The failed write's, as nothing that could fail was called after it: the
  // run stops at the first write that fails.
  int code = errno;
  if (fflush(stdout) != 0)
    code = errno;
  else if (!ferror(stdout))
    return status;
  return fail_standard_output(code);
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
  // No root is measured once its results can no longer be shown.
  if (ferror(stdout)) return -1;
  if (argc <= 1) return test_hdd(default_hdd_root);
  int status = 0;
  for (int i = 1; i < argc && !ferror(stdout); ++i)
    if (test_hdd(argv[i]) != 0) status = -1;
  return status;
}

int run_blockmeter(int argc, char **argv) { return check_standard_output(run_roots(argc, argv)); }
