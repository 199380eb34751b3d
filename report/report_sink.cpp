#include "report_sink.h"

#include <cerrno>
#include <cstring>

int drain_sink(report_sink *sink, bool all, std::string *why) {
  if (sink->file == nullptr || (!all && sink->text.size() < sink_drain_bytes)) return 0;
  errno = 0;
  bool written = fwrite(sink->text.data(), 1, sink->text.size(), sink->file) == sink->text.size();
  int error = errno != 0 ? errno : EIO;
  sink->text.clear();
  if (written) return 0;
  *why = strerror(error);
  return -1;
}
