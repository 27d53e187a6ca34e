#include "console/mcu_log.h"

#include "ui/log.h"

namespace morlane {

namespace {

// 2012/4/12 9:5:3: no leading zeros anywhere.
constexpr const char* kHidBegin = "\rTest Begin Time: %d/%d/%d %d:%d:%d----------------------\r\r";
constexpr const char* kHidFinish =
    "\r\rTest Finish Time: %d/%d/%d %d:%d:%d----------------------\r";
constexpr const char* kSerialBegin =
    "\r\nTest Begin Time: %d/%d/%d %d:%d:%d----------------------\r\n";
constexpr const char* kSerialFinish =
    "\r\nTest Finish Time: %d/%d/%d %d:%d:%d----------------------\r\n";

std::string Stamp(const char* format, const LocalTime& t) {
  return FormatText(format, t.year, t.month, t.day, t.hour, t.minute, t.second);
}

}  // namespace

McuLog::~McuLog() {
  Close();
}

bool McuLog::Create(const std::string& path) {
  Close();
  return file_.Create(path);
}

void McuLog::Write(std::string_view bytes) {
  // A full or failing disk loses the rest of this record; the test goes on.
  file_.Write(bytes);
}

void McuLog::Close() {
  file_.Close();
}

std::string HidBeginLine(const LocalTime& time) {
  return Stamp(kHidBegin, time);
}
std::string HidFinishLine(const LocalTime& time) {
  return Stamp(kHidFinish, time);
}
std::string SerialBeginLine(const LocalTime& time) {
  return Stamp(kSerialBegin, time);
}
std::string SerialFinishLine(const LocalTime& time) {
  return Stamp(kSerialFinish, time);
}

}  // namespace morlane
