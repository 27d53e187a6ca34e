#pragma once

#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/file_io.h"

namespace morlane {

// MCUlog.txt, the automatic test's record of every exchange. Bytes go to the file as they
// are, without conversion and without buffering here, so that another program that has
// the file open (it is shared for reading and writing) sees each exchange as it happens.
class McuLog {
 public:
  static constexpr const char* kFileName = "MCUlog.txt";

  McuLog() = default;
  ~McuLog();
  McuLog(const McuLog&) = delete;
  McuLog& operator=(const McuLog&) = delete;

  // Creates the file anew, emptying it if it exists; false when it cannot be created.
  bool Create(const std::string& path);
  bool IsOpen() const { return file_.IsOpen(); }
  // Fails without notice when the file is not open or the disk refuses it: the test goes
  // on and logs to the window all the same.
  void Write(std::string_view bytes);
  void Close();

 private:
  OutputFile file_;
};

// The frame lines of both layouts, with the local time in plain decimals.
std::string HidBeginLine(const LocalTime& time);
std::string HidFinishLine(const LocalTime& time);
std::string SerialBeginLine(const LocalTime& time);
std::string SerialFinishLine(const LocalTime& time);

}  // namespace morlane
