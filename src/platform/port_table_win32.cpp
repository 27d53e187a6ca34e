// The serial ports of a Windows system: "COM n" is the device \\.\COMn itself.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <iterator>

#include "platform/port_table.h"

namespace morlane {

namespace {

constexpr const char* kDeviceNamespace = "\\\\.\\";
// Windows hands out COM numbers up to 4096 (its port number database); a USB adapter on
// a production PC is often COM40 and above, and COM256 is as good a name as COM3.
constexpr int kHighestComNumber = 4096;

// The n of "COMn" in any case, without leading zeros; 0 for any other name.
int ComNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 7) return 0;
  for (size_t i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
  }
  if (name[3] == '0') return 0;
  int number = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
    number = number * 10 + (name[i] - '0');
  }
  return number <= kHighestComNumber ? number : 0;
}

bool IsComName(const std::string& name) {
  return ComNumber(name) > 0;
}

std::string WithoutNamespace(const std::string& path) {
  const std::string prefix = kDeviceNamespace;
  return path.compare(0, prefix.size(), prefix) == 0 ? path.substr(prefix.size()) : path;
}

// The COM numbers of the serial device map: each serial port driver enters there the
// name of every port it has while the port is there (a USB adapter's while it is plugged
// in). The value names are the drivers' own; their data are the names, "COM3".
std::vector<int> MappedComNumbers() {
  std::vector<int> numbers;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                    &key) != ERROR_SUCCESS) {
    return numbers;
  }
  for (DWORD index = 0;; ++index) {
    wchar_t valueName[256];
    DWORD nameLength = static_cast<DWORD>(std::size(valueName));
    wchar_t data[32] = {};
    // One short of the buffer, so that the text ends in a zero even when the driver
    // stored it without one.
    DWORD dataBytes = sizeof(data) - sizeof(wchar_t);
    DWORD type = 0;
    LONG read = RegEnumValueW(key, index, valueName, &nameLength, nullptr, &type,
                              reinterpret_cast<BYTE*>(data), &dataBytes);
    if (read == ERROR_NO_MORE_ITEMS) break;
    // A value too long for a COM name is some other driver's and passed over.
    if (read != ERROR_SUCCESS || type != REG_SZ) continue;
    std::string name;
    for (const wchar_t* c = data; *c && *c < 0x80; ++c) name += static_cast<char>(*c);
    if (int number = ComNumber(name)) numbers.push_back(number);
  }
  RegCloseKey(key);
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  return numbers;
}

}  // namespace

// Paths may carry a drive letter, so the list is separated as PATH is.
char PortTable::PathSeparator() {
  return ';';
}

// "COM12" opens only through the device namespace; "COM1" through it as well.
std::string PortTable::DevicePath(const std::string& name) {
  return IsComName(name) ? kDeviceNamespace + name : name;
}

int PortTable::SystemNumber(const std::string& path) {
  return std::max(ComNumber(WithoutNamespace(path)), 0);
}

std::string PortTable::SystemName(const std::string& path) {
  const int number = SystemNumber(path);
  return number > 0 ? "COM" + std::to_string(number) : std::string();
}

// Windows names its ports itself; the port search tries them in order and skips those
// that do not open.
std::vector<std::string> PortTable::SystemSerialDevices() {
  std::vector<std::string> paths;
  for (int n = 1; n <= 32; ++n) paths.push_back(kDeviceNamespace + ("COM" + std::to_string(n)));
  return paths;
}

// Only COM names are taken: the port search and a technician know ports by them.
std::vector<std::string> PortTable::PresentSerialDevices() {
  std::vector<std::string> paths;
  for (int number : MappedComNumbers())
    paths.push_back(kDeviceNamespace + ("COM" + std::to_string(number)));
  return paths;
}

}  // namespace morlane
