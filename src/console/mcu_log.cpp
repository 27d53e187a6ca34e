#include "console/mcu_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

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
  // No lock is taken: other programs may read (or write) the file while a test runs.
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  return fd_ >= 0;
}

void McuLog::Write(std::string_view bytes) {
  if (fd_ < 0) return;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return;  // a full or failing disk: the rest of this record is lost, the test goes on
    }
  }
}

void McuLog::Close() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
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
