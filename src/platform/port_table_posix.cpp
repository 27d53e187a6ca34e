// The serial devices of a Linux system.
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>

#include "platform/port_table.h"

namespace morlane {

namespace {

bool AllDigits(const std::string& text) {
  return !text.empty() && text.size() <= 6 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The numbers n of the /dev entries named prefix + n, in numeric order.
std::vector<int> DeviceNumbers(const std::string& prefix) {
  std::vector<int> numbers;
  std::error_code failure;
  for (const auto& entry : std::filesystem::directory_iterator("/dev", failure)) {
    std::string name = entry.path().filename().string();
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    std::string digits = name.substr(prefix.size());
    if (!AllDigits(digits)) continue;
    numbers.push_back(std::stoi(digits));
  }
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

// The PC's built-in UART driver creates every legacy port whether a chip answers or not;
// those without hardware report the port type "unknown" (0).
bool LegacyPortHasHardware(int number) {
  std::string name = "ttyS" + std::to_string(number);
  std::string sys = "/sys/class/tty/" + name;
  std::ifstream typeFile(sys + "/type");
  int type = -1;
  if (typeFile >> type) return type != 0;
  std::error_code failure;
  if (!std::filesystem::exists(sys + "/device/driver", failure)) return false;
  int fd = ::open(("/dev/" + name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  // A port that cannot be opened for want of permission is listed, so that `ports` can
  // say so.
  if (fd < 0) return errno == EACCES || errno == EPERM || errno == EBUSY;
  serial_struct info{};
  bool present = ioctl(fd, TIOCGSERIAL, &info) != 0 || info.type != PORT_UNKNOWN;
  ::close(fd);
  return present;
}

}  // namespace

char PortTable::PathSeparator() {
  return ':';
}

std::string PortTable::DevicePath(const std::string& name) {
  return name;
}

std::string PortTable::SystemName(const std::string&) {
  return {};
}

int PortTable::SystemNumber(const std::string&) {
  return 0;
}

// Only devices that are there are listed: the search leaves out legacy ports without a
// chip behind them.
std::vector<std::string> PortTable::PresentSerialDevices() {
  return SystemSerialDevices();
}

std::vector<std::string> PortTable::SystemSerialDevices() {
  std::vector<std::string> paths;
  for (const char* prefix : {"ttyUSB", "ttyACM"}) {
    for (int n : DeviceNumbers(prefix))
      paths.push_back("/dev/" + std::string(prefix) + std::to_string(n));
  }
  for (int n : DeviceNumbers("ttyS")) {
    if (LegacyPortHasHardware(n)) paths.push_back("/dev/ttyS" + std::to_string(n));
  }
  return paths;
}

}  // namespace morlane
