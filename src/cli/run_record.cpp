#include "cli/run_record.h"

#include "cli/cli_session.h"

namespace morlane {

namespace {

void Field(std::string& out, const char* key, const std::string& value, bool first = false) {
  if (!first) out += ", ";
  out += JsonString(key);
  out += ": ";
  out += JsonString(value);
}

}  // namespace

std::string RunRecordJson(const RunRecord& record) {
  std::string out = "{";
  Field(out, "unit", record.unit, true);
  Field(out, "port", record.port);
  Field(out, "procedure", record.procedure);
  Field(out, "tool_version", record.toolVersion);
  Field(out, "started", record.started);
  Field(out, "ended", record.ended);
  Field(out, "result", record.result);
  out += ", \"images\": [";
  for (size_t i = 0; i < record.images.size(); ++i) {
    const ImageRecord& image = record.images[i];
    out += i ? ", {" : "{";
    Field(out, "file", image.file, true);
    Field(out, "sha256", image.sha256);
    if (!image.cpu.empty()) Field(out, "cpu", image.cpu);
    Field(out, "result", image.result);
    if (!image.step.empty()) Field(out, "step", image.step);
    out += "}";
  }
  out += "]}\n";
  return out;
}

}  // namespace morlane
