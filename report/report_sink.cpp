#include "report_sink.h"

#include <cerrno>

void drain_sink(report_sink *sink, bool all) {
  if (sink->file == nullptr || (!all && sink->text.size() < sink_drain_bytes)) return;
  if (sink->error == 0) {
    errno = 0;
    if (fwrite(sink->text.data(), 1, sink->text.size(), sink->file) != sink->text.size())
      sink->error = errno != 0 ? errno : EIO;
  }
  sink->text.clear();
}
