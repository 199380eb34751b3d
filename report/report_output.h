// Where the report goes: standard output, a device or pipe written directly,
// or a file replaced whole, so that no reader finds half a report and a
// failed or interrupted run never costs the file that was there.
//
// A file is written through a temporary beside it, named .TARGET.XXXXXX.tmp
// (six random letters and digits): hidden, and named for what it is,
// wherever one is left behind, so that it is never taken for a report. On
// POSIX the first open that makes one also installs, for SIGINT, SIGTERM and
// SIGHUP where they are at their default, a handler that removes the
// temporary and ends the program as the signal would. What no
// handler sees (SIGKILL, a crash, Ctrl+C on Windows) leaves the target as it
// was and at most the temporary. One output is open at a time.
#pragma once

#include <cstdio>
#include <string>

#include "report_sink.h"

struct report_output {
  FILE *file = nullptr;   // what the report is written into while open
  std::string target;     // the file written (a symbolic link's target), or empty for standard output
  std::string temporary;  // the temporary beside target, or empty when written directly
  bool refused = false;   // after a failed open: the target is one no report may go to, and *why
                          // says what it is ("a block device", "standard input")
};

// Opens where the report goes: path null means standard output, and so does a path naming one of
// the process's own descriptors (/dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N), which is
// written through that descriptor whatever it is, never replaced: a redirected stream's file stays
// the stream's (an append stays an append). Standard output, or descriptor 1, fails with EBADF's
// words when stdout_open is false (it was closed at start); descriptor 0 is refused as standard
// input, and a descriptor not open for writing fails with EBADF's words. A regular file, or a name not yet
// taken, is written through a temporary file in the same folder, renamed over it on commit; a
// character device or FIFO (/dev/null, /dev/full, a pipe) is written directly; a block device (on
// Windows a disk or volume named as \\.\X) is refused; so is a regular file that is the same file
// as standard input (same device and inode, or volume and file index), as an input named as the
// output is. A file that may not be written is not replaced, though its folder would allow it.
// Returns 0 with out->file (a FILE* to fwrite the report into) set, or -1 with *why set to the
// reason for the message: the system's words for the error, or what a refused target is.
int open_report_output(const char *path, bool stdout_open, report_output *out, std::string *why);

// Completes the report: flushes, closes, renames the temporary over the target (with the target's
// mode kept where it existed, else what a new file would get under the umask). Returns 0, or -1 with
// *why set; then the temporary is removed and the target is as it was.
int commit_report_output(report_output *out, std::string *why);

// Gives up: removes the temporary; the target is as it was.
void abort_report_output(report_output *out);

// Completes a report made into sink, whose file is out->file: writes what the
// sink still holds and commits the report whole, unless a number in it could
// not be formatted (numbers.h). Returns 0, or -1 with *why set; the report is
// then given up and the target is as it was.
int finish_report_output(report_output *out, report_sink *sink, std::string *why);

// Each system's part of the three above.

// Opens the file path names, out->target set to it (open_report_output's
// results, for a path).
int open_report_target(const char *path, report_output *out, std::string *why);

// The descriptor path names by one of the forms above, following symbolic links to it; -1 when it
// names none (always on Windows, which has no such names).
int named_descriptor(const char *path);

// Opens the process's descriptor fd for writing the report through it (a duplicate, so that
// closing the report leaves fd open). Returns 0 with out->file set, or -1 with *why set.
int open_report_descriptor(int fd, report_output *out, std::string *why);

// Makes sure what was written to file is on the disk. Returns 0, or -1 with
// *why set.
int sync_report_file(FILE *file, std::string *why);

// Puts out->temporary in the place of out->target. Returns 0, or -1 with
// *why set (the temporary is then still there).
int replace_report_target(report_output *out, std::string *why);

// Removes out->temporary.
void remove_report_temporary(report_output *out);

// Shared by those parts: the name of a temporary beside target, .TARGET.XXXXXX.tmp
// with six letters and digits drawn from seed (TARGET's file name cut to 200
// bytes after the last of separators, to stay within the longest file name), and
// how many names to try before giving up.
std::string temporary_name(const std::string &target, const char *separators, unsigned long long seed);
constexpr unsigned temporary_attempts = 100;
