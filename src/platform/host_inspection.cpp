#include "platform/host_inspection.h"

#include <algorithm>
#include <cctype>

namespace morlane {

HostRoots HostRoots::Under(const std::string& prefix) {
  HostRoots roots;
  roots.dev = prefix + "/dev";
  roots.proc = prefix + "/proc";
  roots.sys = prefix + "/sys";
  roots.etc = prefix + "/etc";
  roots.usrLib = prefix + "/usr/lib";
  return roots;
}

std::string StablePortId(const SerialDeviceFacts& facts) {
  if (!facts.stableName.empty()) return facts.stableName;
  if (!facts.usbId.empty()) return facts.usbId + ":" + facts.usbSerial;
  return {};
}

bool UsbIdOfInstance(const std::string& instanceId, std::string* usbId, std::string* serial) {
  std::string id;
  for (char c : instanceId) id += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (id.rfind("USB\\", 0) != 0) return false;
  size_t second = id.find('\\', 4);
  std::string hardware = id.substr(4, second == std::string::npos ? second : second - 4);
  auto hexAfter = [&hardware](const char* key, std::string* digits) {
    size_t at = hardware.find(key);
    if (at == std::string::npos || hardware.size() < at + 8) return false;
    *digits = hardware.substr(at + 4, 4);
    return std::all_of(digits->begin(), digits->end(),
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
  };
  std::string vendor, product;
  if (!hexAfter("VID_", &vendor) || !hexAfter("PID_", &product)) return false;
  for (std::string* part : {&vendor, &product}) {
    for (char& c : *part) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  *usbId = vendor + ":" + product;
  serial->clear();
  if (second != std::string::npos) {
    std::string last = instanceId.substr(second + 1);
    if (!last.empty() && last.find('&') == std::string::npos) *serial = last;
  }
  return true;
}

bool UserIdentity::HasGroup(uint32_t id) const {
  return id == gid || std::find(groups.begin(), groups.end(), id) != groups.end();
}

}  // namespace morlane
