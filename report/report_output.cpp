// Opening, completing or giving up a report, the same on every system:
// standard output as it is; else flush, make sure the bytes are on the disk,
// close, then put the temporary in the target's place or remove it. Each
// system's part is in report_output_{posix,win32}.cpp.
#include "report_output.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "numbers.h"

int open_report_output(const char *path, bool stdout_open, report_output *out, std::string *why) {
  *out = report_output{};
  int fd = path == nullptr ? 1 : named_descriptor(path);
  if (fd == 1 && !stdout_open) {
    *why = strerror(EBADF);
    return -1;
  }
  if (fd == 0) {
    out->refused = true;
    *why = "standard input";
    return -1;
  }
  if (path == nullptr) {
    out->file = stdout;
    return 0;
  }
  if (fd > 0) return open_report_descriptor(fd, out, why);
  out->target = path;
  return open_report_target(path, out, why);
}

int commit_report_output(report_output *out, std::string *why) {
  std::string reason = out->file == nullptr ? strerror(EBADF) : "";
  errno = 0;
  if (out->file == stdout) {
    // Standard output stays open; flushing it is what shows a failed write.
    if (fflush(stdout) != 0 || ferror(stdout)) reason = strerror(errno != 0 ? errno : EIO);
    out->file = nullptr;
  } else if (out->file != nullptr) {
    if (fflush(out->file) != 0 || ferror(out->file))
      reason = strerror(errno != 0 ? errno : EIO);
    else if (!out->temporary.empty())
      sync_report_file(out->file, &reason);
    errno = 0;
    if (fclose(out->file) != 0 && reason.empty()) reason = strerror(errno != 0 ? errno : EIO);
    out->file = nullptr;
  }
  if (!reason.empty()) {
    abort_report_output(out);
    *why = reason;
    return -1;
  }
  if (out->temporary.empty() || replace_report_target(out, why) == 0) return 0;
  abort_report_output(out);
  return -1;
}

int finish_report_output(report_output *out, report_sink *sink, std::string *why) {
  if (number_format_failed()) {
    *why = "a number in it could not be formatted";
    sink->text.clear();
  } else if (drain_sink(sink, true, why) == 0) {
    return commit_report_output(out, why);
  }
  abort_report_output(out);
  return -1;
}

void abort_report_output(report_output *out) {
  if (out->file != nullptr && out->file != stdout) fclose(out->file);
  out->file = nullptr;
  if (!out->temporary.empty()) remove_report_temporary(out);
}

std::string temporary_name(const std::string &target, const char *separators, unsigned long long seed) {
  static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  // The name leaves room for the suffix within the longest file name. Its
  // leading dot keeps one left by a killed run out of listings and of the
  // patterns that match the target (report.csv*, *.csv).
  size_t separator = target.find_last_of(separators);
  size_t name_start = separator == std::string::npos ? 0 : separator + 1;
  std::string name = target.substr(0, name_start) + "." +
                     target.substr(name_start, std::min<size_t>(target.size() - name_start, 200)) + ".";
  for (int i = 0; i < 6; ++i, seed /= sizeof letters - 1) name += letters[seed % (sizeof letters - 1)];
  return name + ".tmp";
}
