#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace morlane {

// Why a step failed, as a word a program can act on: the procedure's own finding, never
// read back from a log line.
enum class StepReason {
  None,
  NoAnswer,  // the unit said nothing within the wait
  Nak,       // a frame was not acknowledged, or acknowledged wrongly
  Status,    // the unit answered and refused (a status word other than 0)
  Checksum,  // what the unit holds differs from the image
  File,      // the image or a file beside it could not be read or written, or is not sound
  Port,      // the port or device could not be opened or written
  Stopped,   // the run was stopped from outside
};

// "no-answer", "nak", "status", "checksum", "file", "port", "stopped"; "" for None.
const char* StepReasonName(StepReason reason);

// The typed facts a procedure reports while it runs. The dialog's log lines, percentage and
// bar stay what they are; these are reported beside them, for programs.
namespace event {

struct RunStarted {
  std::string command;
  std::string port;
  std::string toolVersion;
  std::string started;  // ISO 8601 with offset
  std::string runId;    // empty outside a station's run
  std::optional<std::string> unitId;
  bool station = false;  // whether runId and unitId belong in the event
};
// The service package a run takes its images from, once checked; before its first image.
struct Package {
  std::string file;
  std::string sha256;  // of the package file
  std::string model;
  std::string release;
  std::string signer;  // the signer's fingerprint; empty (null) for a package taken unsigned
};
// An image about to be programmed or verified, as read for it.
struct Image {
  std::string file;
  std::string sha256;
  int64_t bytes = 0;
  std::string cpu;  // "master", "slave"; empty when none applies
};
struct StepStarted {
  explicit StepStarted(std::string step_, std::string cpu_ = {})
      : step(std::move(step_)), cpu(std::move(cpu_)) {}
  std::string step;
  std::string cpu;  // empty when no CPU applies
};
struct Progress {
  std::string step;
  int64_t done = 0;
  int64_t total = 0;
  int percent = 0;  // the figure the window shows
};
struct Log {
  std::string text;
};
struct Message {
  std::string text;
};
enum class Outcome { Ok, Fail, Skipped };
struct StepEnded {
  explicit StepEnded(std::string step_, std::string cpu_ = {}, Outcome outcome_ = Outcome::Ok,
                     StepReason reason_ = StepReason::None, std::string detail_ = {})
      : step(std::move(step_)),
        cpu(std::move(cpu_)),
        outcome(outcome_),
        reason(reason_),
        detail(std::move(detail_)) {}
  std::string step;
  std::string cpu;
  Outcome outcome = Outcome::Ok;
  StepReason reason = StepReason::None;
  std::string detail;
};
// An input refused before anything was sent.
struct Refused {
  std::string file;
  std::string reason;  // a short word: "record-type", "too-large", "not-an-image", ...
  int line = 0;        // the file's line at fault (from 1); 0 when none is
  std::string detail;
};
struct RunEnded {
  std::string result;  // "pass", "fail", "aborted"
  std::string failedStep;
  int exit = 0;
};

}  // namespace event

using RunEvent = std::variant<event::RunStarted, event::Package, event::Image, event::StepStarted,
                              event::Progress, event::Log, event::Message, event::StepEnded,
                              event::Refused, event::RunEnded>;

// Where a procedure reports its events. Report is called on the thread the procedure runs
// on (the command test's worker too), in the order the facts happen; a listener that keeps
// state guards it.
class RunEvents {
 public:
  virtual ~RunEvents() = default;
  virtual void Report(const RunEvent& event) = 0;
  // Whether anyone listens: a procedure need not build an event nobody reads.
  virtual bool Listening() const { return true; }
};

// The dialog's end of the seam: every event goes to the one listener the front end set,
// or nowhere.
class EventRelay : public RunEvents {
 public:
  void Listen(RunEvents* listener) { listener_.store(listener); }
  void Report(const RunEvent& event) override {
    if (RunEvents* listener = listener_.load()) listener->Report(event);
  }
  bool Listening() const override { return listener_.load() != nullptr; }

 private:
  std::atomic<RunEvents*> listener_{nullptr};
};

// A step's start, and its end: ok, or failed with why and a few words; nothing is built
// when nobody listens.
void ReportStepStarted(RunEvents& events, const char* step, const std::string& cpu = {});
void ReportStepEnded(RunEvents& events, const char* step, const std::string& cpu, bool passed,
                     StepReason why = StepReason::None, const std::string& detail = {});

// The event as one line of JSON (no line feed): "v", "t" (ms since the command started),
// "type", "unit" when one is given, then the type's own fields.
std::string EventJson(const RunEvent& event, int64_t sinceStartMs, std::string_view unit);

// The type's name as the JSON carries it: "run_started", "image", ...
const char* EventTypeName(const RunEvent& event);

}  // namespace morlane
