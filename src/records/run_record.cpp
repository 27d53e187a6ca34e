#include "records/run_record.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <thread>

#include "platform/clock.h"
#include "ui/json_text.h"

namespace morlane {

namespace {

void Key(std::string& out, const char* key) {
  if (out.back() != '{') out += ", ";
  out += JsonString(key);
  out += ": ";
}

void Text(std::string& out, const char* key, const std::string& value) {
  Key(out, key);
  out += JsonString(value);
}

// Empty means the fact is absent.
void TextOrNull(std::string& out, const char* key, const std::string& value) {
  Key(out, key);
  out += value.empty() ? "null" : JsonString(value);
}

void Optional(std::string& out, const char* key, const std::optional<std::string>& value) {
  Key(out, key);
  out += value ? JsonString(*value) : "null";
}

void Number(std::string& out, const char* key, int64_t value) {
  Key(out, key);
  out += std::to_string(value);
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

}  // namespace

std::string RunResult(const std::vector<ImageRecord>& images, bool procedurePassed, bool stopped) {
  for (const ImageRecord& image : images) {
    if (image.result == "fail") return "fail";
  }
  if (stopped) return "aborted";
  for (const ImageRecord& image : images) {
    if (image.result != "pass") return "fail";
  }
  return procedurePassed ? "pass" : "fail";
}

std::string FirstFailedStep(const std::vector<ImageRecord>& images) {
  for (const ImageRecord& image : images) {
    if (image.result != "pass" && !image.step.empty()) return image.step;
  }
  return {};
}

void DecideVerdict(RunRecord& record, const RunEnding& ending) {
  if (!ending.refusedStep.empty()) {
    record.result = "fail";
    record.failedStep = ending.refusedStep;
    return;
  }
  record.result = RunResult(record.images, ending.procedurePassed, ending.stopped);
  record.failedStep = FirstFailedStep(record.images);
  if (record.result == "fail" && record.failedStep.empty()) {
    // Nothing was tried: the port did not open, or there was no image to program.
    record.failedStep = ending.opened ? "image" : "connect";
  }
}

void MarkUnkept(RunRecord& record) {
  record.result = "fail";
  record.failedStep = "record";
}

std::string NewRunId(int64_t startedMs) {
  // random_device alone is not trusted to differ between processes on every system: the
  // clock's nanoseconds and the thread are mixed into the seed.
  std::random_device device;
  const auto now =
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  const auto thread =
      static_cast<uint64_t>(std::hash<std::thread::id>{}(std::this_thread::get_id()));
  std::seed_seq seed{device(),
                     device(),
                     static_cast<unsigned>(now),
                     static_cast<unsigned>(now >> 32),
                     static_cast<unsigned>(thread),
                     static_cast<unsigned>(startedMs)};
  std::mt19937_64 random(seed);
  const uint64_t bits = random() & 0xFFFFFFFFFFFFull;

  char hex[16];
  std::snprintf(hex, sizeof hex, "%012llx", static_cast<unsigned long long>(bits));
  return CompactUtc(startedMs / 1000) + "-" + hex;
}

std::string RunRecordJson(const RunRecord& record) {
  std::string out = "{";
  Text(out, "run_id", record.runId);
  Text(out, "station", record.station);
  Text(out, "slot", record.slot);
  Text(out, "port", record.port);
  Text(out, "port_id", record.portId);
  Optional(out, "unit_id", record.unitId);
  Optional(out, "operator", record.operatorName);
  Text(out, "procedure", record.procedure);
  Text(out, "tool_version", record.toolVersion);
  Optional(out, "profile", record.profile);
  Text(out, "started", record.started);
  Text(out, "ended", record.ended);
  Text(out, "result", record.result);
  TextOrNull(out, "failed_step", record.failedStep);
  out += ", \"images\": [";
  for (size_t i = 0; i < record.images.size(); ++i) {
    const ImageRecord& image = record.images[i];
    out += i ? ", {" : "{";
    Text(out, "file", image.file);
    TextOrNull(out, "sha256", image.sha256);
    Key(out, "bytes");
    out += image.bytes < 0 ? "null" : std::to_string(image.bytes);
    TextOrNull(out, "cpu", image.cpu);
    Text(out, "result", image.result);
    TextOrNull(out, "step", image.step);
    Key(out, "skipped");
    out += image.skipped ? "true" : "false";
    TextOrNull(out, "closing", image.closing);
    Key(out, "seconds");
    out += "{";
    for (const auto& [step, seconds] : image.seconds) {
      Key(out, step.c_str());
      out += Seconds(seconds);
    }
    out += "}";
    Key(out, "link");
    out += "{";
    Number(out, "frames", image.frames);
    Number(out, "retries", image.retries);
    Number(out, "naks", image.naks);
    out += "}}";
  }
  out += "]";
  // Added after the fields that were there before it, so that readers of older records
  // find those where they were.
  Key(out, "package");
  if (record.package) {
    out += "{";
    Text(out, "file", record.package->file);
    Text(out, "sha256", record.package->sha256);
    Text(out, "model", record.package->model);
    Text(out, "release", record.package->release);
    Optional(out, "signer", record.package->signer);
    out += "}";
  } else {
    out += "null";
  }
  out += "}\n";
  return out;
}

}  // namespace morlane
