#include "ui/run_events.h"

#include <type_traits>

#include "ui/json_text.h"

namespace morlane {

const char* StepReasonName(StepReason reason) {
  switch (reason) {
    case StepReason::NoAnswer:
      return "no-answer";
    case StepReason::Nak:
      return "nak";
    case StepReason::Status:
      return "status";
    case StepReason::Checksum:
      return "checksum";
    case StepReason::File:
      return "file";
    case StepReason::Port:
      return "port";
    case StepReason::Stopped:
      return "stopped";
    case StepReason::None:
      break;
  }
  return "";
}

namespace {

// Appends ,"key":value to a JSON object being written.
class JsonFields {
 public:
  explicit JsonFields(std::string& out) : out_(out) {}
  void Text(const char* key, std::string_view value) {
    Key(key);
    out_ += JsonString(value);
  }
  // An empty text is written as null: the fact is not known or does not apply.
  void TextOrNull(const char* key, std::string_view value) {
    if (value.empty()) {
      Null(key);
    } else {
      Text(key, value);
    }
  }
  void Number(const char* key, int64_t value) {
    Key(key);
    out_ += std::to_string(value);
  }
  void Null(const char* key) {
    Key(key);
    out_ += "null";
  }

 private:
  void Key(const char* key) {
    out_ += ",\"";
    out_ += key;
    out_ += "\":";
  }
  std::string& out_;
};

const char* OutcomeName(event::Outcome outcome) {
  switch (outcome) {
    case event::Outcome::Fail:
      return "fail";
    case event::Outcome::Skipped:
      return "skipped";
    case event::Outcome::Ok:
      break;
  }
  return "ok";
}

struct TypeName {
  const char* operator()(const event::RunStarted&) const { return "run_started"; }
  const char* operator()(const event::Package&) const { return "package"; }
  const char* operator()(const event::Image&) const { return "image"; }
  const char* operator()(const event::StepStarted&) const { return "step_started"; }
  const char* operator()(const event::Progress&) const { return "progress"; }
  const char* operator()(const event::Log&) const { return "log"; }
  const char* operator()(const event::Message&) const { return "message"; }
  const char* operator()(const event::StepEnded&) const { return "step_ended"; }
  const char* operator()(const event::Refused&) const { return "refused"; }
  const char* operator()(const event::RunEnded&) const { return "run_ended"; }
};

struct FieldWriter {
  JsonFields& f;
  void operator()(const event::RunStarted& e) const {
    f.Text("command", e.command);
    f.Text("port", e.port);
    f.Text("tool_version", e.toolVersion);
    f.Text("started", e.started);
    if (!e.station) return;
    f.Text("run_id", e.runId);
    if (e.unitId) {
      f.Text("unit_id", *e.unitId);
    } else {
      f.Null("unit_id");
    }
  }
  void operator()(const event::Package& e) const {
    f.Text("file", e.file);
    f.Text("sha256", e.sha256);
    f.Text("model", e.model);
    f.Text("release", e.release);
    f.TextOrNull("signer", e.signer);
  }
  void operator()(const event::Image& e) const {
    f.Text("file", e.file);
    f.Text("sha256", e.sha256);
    f.Number("bytes", e.bytes);
    f.TextOrNull("cpu", e.cpu);
  }
  void operator()(const event::StepStarted& e) const {
    f.Text("step", e.step);
    if (!e.cpu.empty()) f.Text("cpu", e.cpu);
  }
  void operator()(const event::Progress& e) const {
    f.Text("step", e.step);
    f.Number("done", e.done);
    f.Number("total", e.total);
    f.Number("percent", e.percent);
  }
  void operator()(const event::Log& e) const { f.Text("text", e.text); }
  void operator()(const event::Message& e) const { f.Text("text", e.text); }
  void operator()(const event::StepEnded& e) const {
    f.Text("step", e.step);
    if (!e.cpu.empty()) f.Text("cpu", e.cpu);
    f.Text("outcome", OutcomeName(e.outcome));
    if (e.outcome != event::Outcome::Fail) return;
    f.Text("reason", e.reason == StepReason::None ? "fail" : StepReasonName(e.reason));
    f.Text("detail", e.detail);
  }
  void operator()(const event::Refused& e) const {
    f.Text("file", e.file);
    f.Text("reason", e.reason);
    if (e.line > 0) {
      f.Number("line", e.line);
    } else {
      f.Null("line");
    }
    f.Text("detail", e.detail);
  }
  void operator()(const event::RunEnded& e) const {
    f.Text("result", e.result);
    f.TextOrNull("failed_step", e.failedStep);
    f.Number("exit", e.exit);
  }
};

}  // namespace

void ReportStepStarted(RunEvents& events, const char* step, const std::string& cpu) {
  if (events.Listening()) events.Report(event::StepStarted{step, cpu});
}

void ReportStepEnded(RunEvents& events, const char* step, const std::string& cpu, bool passed,
                     StepReason why, const std::string& detail) {
  if (!events.Listening()) return;
  if (passed) {
    events.Report(event::StepEnded{step, cpu});
  } else {
    events.Report(event::StepEnded{step, cpu, event::Outcome::Fail, why, detail});
  }
}

const char* EventTypeName(const RunEvent& event) {
  return std::visit(TypeName{}, event);
}

std::string EventJson(const RunEvent& event, int64_t sinceStartMs, std::string_view unit) {
  std::string out = "{\"v\":1";
  JsonFields fields(out);
  fields.Number("t", sinceStartMs);
  fields.Text("type", EventTypeName(event));
  if (!unit.empty()) fields.Text("unit", unit);
  std::visit(FieldWriter{fields}, event);
  out += '}';
  return out;
}

}  // namespace morlane
