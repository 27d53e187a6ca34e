// The serial ports of a Windows system: "COM n" is the device \\.\COMn itself.
#include <cctype>

#include "platform/port_table.h"

namespace morlane {

namespace {

bool IsComName(const std::string& name) {
  if (name.size() < 4 || name.size() > 6) return false;
  for (size_t i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return false;
  }
  for (size_t i = 3; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

}  // namespace

// Paths may carry a drive letter, so the list is separated as PATH is.
char PortTable::PathSeparator() {
  return ';';
}

// "COM12" opens only through the device namespace; "COM1" through it as well.
std::string PortTable::DevicePath(const std::string& name) {
  return IsComName(name) ? "\\\\.\\" + name : name;
}

// Windows names its ports itself; the port search tries them in order and skips those
// that do not open.
std::vector<std::string> PortTable::SystemSerialDevices() {
  std::vector<std::string> paths;
  for (int n = 1; n <= 32; ++n) paths.push_back("\\\\.\\COM" + std::to_string(n));
  return paths;
}

}  // namespace morlane
