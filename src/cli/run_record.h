#pragma once

#include <string>
#include <vector>

namespace morlane {

// One image file a unit's run tried.
struct ImageRecord {
  std::string file;
  std::string sha256;
  std::string cpu;     // "master" or "slave"; empty when the name names neither
  std::string result;  // "pass" or "fail"
  std::string step;    // the first step that failed; empty when it passed
};

// What a production station keeps of one unit's run (COMn.json).
struct RunRecord {
  std::string unit;       // "COM3"
  std::string port;       // the device path
  std::string procedure;  // "auto" or "flash"
  std::string toolVersion;
  std::string started;  // ISO 8601 with offset
  std::string ended;
  std::string result;  // "pass", "fail" or "aborted"
  std::vector<ImageRecord> images;
};

// One JSON object, keys in a fixed order, ending in a line feed. Absent facts (a step that
// did not fail, a CPU the name does not give) are left out rather than written empty.
std::string RunRecordJson(const RunRecord& record);

}  // namespace morlane
