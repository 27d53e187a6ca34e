#include "link/device_session.h"

#include "ui/control_ids.h"
#include "ui/log.h"
#include "ui/session_controls.h"
#include "ui/window.h"

namespace morlane {

DeviceSession::DeviceSession(Window& window, CHIDControl& hid, CSerialLink& serial)
    : window_(window), hid_(hid), serial_(serial) {}

void DeviceSession::FillInterfaceList(const std::vector<ListedPort>& otherPorts) {
  int port = serial_.FindFreePort();
  interfaceList = {
      InterfaceEntry{kUnitVendorId, kUnitProductId, "0x590", "0x4b", FormatText("COM%d", port),
                     "COM"},
      InterfaceEntry{kUnitVendorId, kUnitProductId, "0x590", "0x4b", "USB", "HID"},
  };
  for (const ListedPort& other : otherPorts) {
    if (other.number == port || other.number <= 0) continue;
    interfaceList.push_back(InterfaceEntry{kUnitVendorId, kUnitProductId, "0x590", "0x4b",
                                           other.name, "COM", other.number});
  }
  for (const auto& entry : interfaceList) window_.AddComboString(ctl::kInterfaceCombo, entry.name);
  window_.SetComboSelection(ctl::kInterfaceCombo, 0);
}

const InterfaceEntry* DeviceSession::SelectedEntry() const {
  int index = window_.GetComboSelection(ctl::kInterfaceCombo);
  if (index < 0 || index >= static_cast<int>(interfaceList.size())) return nullptr;
  return &interfaceList[static_cast<size_t>(index)];
}

void DeviceSession::OnOpen(const std::function<void()>& onSerialOpened) {
  const InterfaceEntry* entry = SelectedEntry();
  if (entry && entry->kind.find("HID") != std::string::npos) {
    if (hid_.OpenDevice(entry->vendorId, entry->productId)) {
      AppendLogLine(window_, "Find the HID Device OK!");
      sessionState = SessionState::Hid;
      AppendLogLine(window_, kDash38);
      AppendLogLine(window_, "Can not get Inverter's version info!!");
      AppendLogLine(window_, kDash38);
      AppendLogLine(window_, kDash38);
      SetSessionControls(window_, 1);
    } else {
      AppendLogLine(window_, "Can not find the HID Device!");
      sessionState = SessionState::None;
      SetSessionControls(window_, 0);
    }
  } else if (entry && entry->kind.find("COM") != std::string::npos) {
    // Entry 0 searches as the dialog always did; a listed port is opened as chosen.
    comPortNumber = entry->comNumber > 0 ? entry->comNumber : serial_.FindFreePort();
    serial_.Close();
    if (serial_.Open(comPortNumber, 9600)) {
      AppendLogLine(window_, FormatText("Com%d is opened,please insert com1 cable to inverter and",
                                        comPortNumber));
      AppendLogLine(window_, "pc.");
      sessionState = SessionState::Serial;
      SetSessionControls(window_, 1);
      if (onSerialOpened) onSerialOpened();
    } else {
      AppendLogLine(window_,
                    FormatText("Can Not Open Com%d,Please Modify The INI File to Change Com Port",
                               comPortNumber));
      sessionState = SessionState::None;
      SetSessionControls(window_, 0);
    }
  }
  AppendLogLine(window_, kDash38);
}

void DeviceSession::OnClose() {
  if (sessionState == SessionState::Hid) {
    hid_.Close();
    AppendLogLine(window_, "Close HID MCU OK!");
  } else if (sessionState == SessionState::Serial) {
    serial_.Close();
    AppendLogLine(window_, "Close Serial MCU OK!");
  } else {
    AppendLogLine(window_, "Please open device first!");
  }
  SetSessionControls(window_, 0);
  AppendLogLine(window_, kDash36);
}

}  // namespace morlane
