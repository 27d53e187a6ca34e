#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace morlane {

// One image file a unit's run tried, with what the programmer itself saw of it.
struct ImageRecord {
  std::string file;    // the path as given, UTF-8 unchanged
  std::string sha256;  // of the bytes sent; empty (null) when none were read
  int64_t bytes = -1;  // how many bytes were read for the burn; -1 (null) when none
  std::string cpu;     // "master" or "slave"; empty (null) when the name names neither
  std::string result;  // "pass", "fail", or "aborted" when a stop cut it short
  std::string step;    // the first step that failed; empty (null) when it passed
  bool skipped = false;
  std::string closing;  // "answered", "unanswered"; empty (null) when never sent
  std::vector<std::pair<std::string, double>> seconds;  // per step, in the order they ran
  int frames = 0;
  int retries = 0;
  int naks = 0;
};

// The service package a run took its images from.
struct PackageRecord {
  std::string file;
  std::string sha256;  // of the package file
  std::string model;
  std::string release;
  std::optional<std::string> signer;  // the signer's fingerprint; none for one taken unsigned
};

// What a production station keeps of one unit's run.
struct RunRecord {
  std::string runId;
  std::string station;
  std::string slot;    // "COM3" or a profile's slot name
  std::string port;    // the device path
  std::string portId;  // the port's stable identity; "" where the system gives none
  std::optional<std::string> unitId;
  std::optional<std::string> operatorName;
  std::string procedure;  // "auto", "flash" or "verify"
  std::string toolVersion;
  std::optional<std::string> profile;  // SHA-256 of the station's profile
  std::string started;                 // ISO 8601 with offset
  std::string ended;
  int64_t startedMs = 0;  // since the epoch: what runs are ordered and filtered by
  int64_t endedMs = 0;
  std::string result;      // "pass", "fail" or "aborted"
  std::string failedStep;  // empty (null) unless a step failed
  std::vector<ImageRecord> images;
  std::optional<PackageRecord> package;
};

// The run's result from its images: "fail" when any image failed on its own, "aborted"
// when the run was stopped and nothing had failed on its own, "pass" when the procedure
// passed with every image tried. A procedure that failed before any image (no port, no
// image file) is a "fail".
std::string RunResult(const std::vector<ImageRecord>& images, bool procedurePassed, bool stopped);

// The first step that failed among the images; "" when none did.
std::string FirstFailedStep(const std::vector<ImageRecord>& images);

// How a unit's run ended, beside what each image says of itself.
struct RunEnding {
  bool procedurePassed = false;  // the dialog's own verdict, 1 or 0
  bool opened = false;           // the unit's port opened
  bool stopped = false;          // stopped at once, or held back from a CPU it would have run
  std::string refusedStep{};     // refused before the port opened, at this step ("image")
};

// The one place a run's verdict (result, failed_step) is decided: from its images' own
// outcomes and how it ended. Whatever shows the run afterwards (the stdout line, the
// run_ended event, the live view, the tile, the exit status) reads it from the record; only
// MarkUnkept changes it after this.
void DecideVerdict(RunRecord& record, const RunEnding& ending);
// The record could not be kept: the unit has not passed, whatever its CPUs did.
void MarkUnkept(RunRecord& record);

// A run id unique across stations and processes: the UTC time of the start to the second
// and 48 random bits, "20261208T110503Z-3f9a0c1d2b4e". Letters, digits and "-" only, so
// it names the run's files on every system.
std::string NewRunId(int64_t startedMs);

// The record as one JSON object on one line, keys in a fixed order, absent facts as null.
std::string RunRecordJson(const RunRecord& record);

}  // namespace morlane
