// Windows keeps no device groups, udev rules or modem manager: a COM port is refused only
// while another program has it open, which opening it tells, and the HID class driver
// lets every user open the unit.
#include <windows.h>

#include <utility>

#include "platform/host_inspection.h"

namespace morlane {

UserIdentity UserIdentity::Current() {
  UserIdentity user;
  char name[257] = {};
  DWORD size = sizeof(name);
  if (GetUserNameA(name, &size)) user.name = name;
  return user;
}

HostInspection::HostInspection(HostRoots roots, UserIdentity user)
    : roots_(std::move(roots)), user_(std::move(user)) {}

bool HostInspection::UnixChecksApply() {
  return false;
}

std::vector<SerialDeviceFacts> HostInspection::SerialDevices(
    const std::vector<std::string>& paths) const {
  std::vector<SerialDeviceFacts> facts(paths.size());
  for (size_t i = 0; i < paths.size(); ++i) facts[i].path = paths[i];
  return facts;
}

std::vector<UnitHidNode> HostInspection::UnitHidNodes(uint16_t, uint16_t) const {
  return {};
}

UnitRuleFacts HostInspection::UnitRule(uint16_t, uint16_t) const {
  return {};
}

std::vector<DeviceHolder> HostInspection::RunningPrograms(const std::string&) const {
  return {};
}

}  // namespace morlane
