#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "ui/run_events.h"

namespace morlane {

// Events as NDJSON: one JSON object a line, flushed as each is written, so that a reader
// following the file sees every event the moment it happened. Several units may write to
// one file at once; each line is written whole.
class EventFile : public RunEvents {
 public:
  // out stays open and is the caller's; times are counted from now.
  explicit EventFile(std::FILE* out);

  void Report(const RunEvent& event) override { Write(event, {}); }
  // The event as one unit's: the line carries "unit".
  void Write(const RunEvent& event, std::string_view unit);
  // Whether a line could not be written: the run then does not pass.
  bool Failed() const;

 private:
  std::FILE* out_;
  int64_t startedMs_;
  mutable std::mutex mutex_;
  bool failed_ = false;
};

// One unit's view of a shared event file.
class UnitEvents : public RunEvents {
 public:
  UnitEvents(EventFile& file, std::string unit) : file_(file), unit_(std::move(unit)) {}
  void Report(const RunEvent& event) override { file_.Write(event, unit_); }

 private:
  EventFile& file_;
  std::string unit_;
};

}  // namespace morlane
