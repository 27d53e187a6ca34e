#include "ui/event_file.h"

#include "platform/monotonic.h"

namespace morlane {

EventFile::EventFile(std::FILE* out) : out_(out), startedMs_(MonotonicMs()) {}

void EventFile::Write(const RunEvent& event, std::string_view unit) {
  std::string line = EventJson(event, MonotonicMs() - startedMs_, unit);
  line += '\n';
  std::lock_guard lock(mutex_);
  if (std::fwrite(line.data(), 1, line.size(), out_) != line.size() || std::fflush(out_) != 0) {
    failed_ = true;
  }
}

bool EventFile::Failed() const {
  std::lock_guard lock(mutex_);
  return failed_;
}

}  // namespace morlane
