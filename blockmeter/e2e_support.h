// What the end-to-end suites of the built blockmeter share.
#pragma once

#include <string>
#include <vector>

#include "test_build.h"

// Writes bytes of data no layer can compress or skip to path.
void make_file(const std::string &path, size_t bytes);

// Runs the build's blockmeter with args, within two minutes; or, given
// limit_ms, for that long at most, ended then without failing the test.
program_run run_blockmeter(const std::vector<std::string> &args, const test_build *build = native_build(),
                           int limit_ms = 0);

// Runs this build's blockmeter with args under the command prefix (such as
// strace or setpriv), within two minutes.
program_run run_blockmeter_under(const std::vector<std::string> &prefix,
                                 const std::vector<std::string> &args);

// The command prefix that runs a program as nobody.
extern const std::vector<std::string> as_nobody;

// Checks that every line of err is the device line of one of roots, a
// warning that one of them is read through a loop device without direct I/O,
// or reports reads of one of them that failed or came back short, naming
// its row and the first reason.
void check_read_reports(const std::string &err, const std::vector<std::string> &roots);
