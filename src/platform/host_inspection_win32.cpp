// Windows keeps no device groups, udev rules or modem manager: a COM port is refused only
// while another program has it open, which opening it tells, and the HID class driver
// lets every user open the unit. What it does keep is the USB device behind each COM port,
// in the device tree of the Ports class.
#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

#include <cctype>
#include <map>
#include <utility>

#include "platform/host_inspection.h"

namespace morlane {

UserIdentity UserIdentity::Current() {
  UserIdentity user;
  // The wide form: a user named "Müller" is shown as such.
  wchar_t name[257] = {};
  DWORD size = 257;
  if (!GetUserNameW(name, &size)) return user;
  char utf8[257 * 3 + 1] = {};
  if (WideCharToMultiByte(CP_UTF8, 0, name, -1, utf8, sizeof utf8, nullptr, nullptr) > 0) {
    user.name = utf8;
  }
  return user;
}

HostInspection::HostInspection(HostRoots roots, UserIdentity user)
    : roots_(std::move(roots)), user_(std::move(user)) {}

bool HostInspection::UnixChecksApply() {
  return false;
}

namespace {

// The setup class of COM and LPT ports.
const GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

struct UsbFacts {
  std::string usbId;
  std::string serial;
};

// A port's own instance id is USB\... for a CDC modem; an adapter's driver makes its own
// (FTDIBUS\...) below the USB device, so its parent is asked next.
bool UsbFactsOf(DEVINST node, UsbFacts* facts) {
  char id[MAX_DEVICE_ID_LEN + 1] = {};
  for (int level = 0; level < 2; ++level) {
    if (CM_Get_Device_IDA(node, id, MAX_DEVICE_ID_LEN, 0) == CR_SUCCESS &&
        UsbIdOfInstance(id, &facts->usbId, &facts->serial))
      return true;
    DEVINST parent = 0;
    if (CM_Get_Parent(&parent, node, 0) != CR_SUCCESS) return false;
    node = parent;
  }
  return false;
}

// "COM5" to the USB device behind it, for every present port that has one.
std::map<std::string, UsbFacts> UsbPorts() {
  std::map<std::string, UsbFacts> ports;
  HDEVINFO set = SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return ports;
  SP_DEVINFO_DATA info{};
  info.cbSize = sizeof(info);
  for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &info); ++index) {
    HKEY key = SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    char name[64] = {};
    DWORD size = sizeof(name) - 1;
    DWORD type = 0;
    LONG read =
        RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS || type != REG_SZ) continue;
    UsbFacts facts;
    if (UsbFactsOf(info.DevInst, &facts)) ports[Upper(name)] = facts;
  }
  SetupDiDestroyDeviceInfoList(set);
  return ports;
}

}  // namespace

std::vector<SerialDeviceFacts> HostInspection::SerialDevices(
    const std::vector<std::string>& paths) const {
  std::map<std::string, UsbFacts> usb = UsbPorts();
  std::vector<SerialDeviceFacts> facts(paths.size());
  for (size_t i = 0; i < paths.size(); ++i) {
    facts[i].path = paths[i];
    std::string name = paths[i];
    if (name.rfind("\\\\.\\", 0) == 0) name = name.substr(4);
    auto found = usb.find(Upper(name));
    if (found == usb.end()) continue;
    facts[i].usbId = found->second.usbId;
    facts[i].usbSerial = found->second.serial;
  }
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
