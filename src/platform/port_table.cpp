#include "platform/port_table.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace morlane {

namespace {

// COM numbers run from 1 to 32; entries beyond can never be reached.
constexpr size_t kMaxPorts = 32;

std::vector<std::string> Capped(std::vector<std::string> paths) {
  if (paths.size() > kMaxPorts) paths.resize(kMaxPorts);
  return paths;
}

std::vector<std::string> SplitPaths(const std::string& text) {
  std::vector<std::string> paths;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(':', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) paths.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return paths;
}

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

PortTable PortTable::Discover(const std::vector<std::string>& cliPorts) {
  if (!cliPorts.empty()) return PortTable(Capped(cliPorts));
  if (const char* fromEnvironment = std::getenv("MORLANE_PORTS")) {
    std::vector<std::string> paths = SplitPaths(fromEnvironment);
    if (!paths.empty()) return PortTable(Capped(std::move(paths)));
  }
  return PortTable(Capped(SystemSerialDevices()));
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

std::string PortTable::PathOf(int comNumber) const {
  if (comNumber < 1 || comNumber > Count()) return {};
  return paths_[static_cast<size_t>(comNumber - 1)];
}

}  // namespace morlane
