#pragma once

#include <functional>
#include <string>
#include <vector>

#include "link/hid_control.h"
#include "link/serial_link.h"
#include "ui/listed_ports.h"

namespace morlane {

class Window;

enum SessionState { None = 0, Hid = 1, Serial = 2 };

struct InterfaceEntry {
  int vendorId = 0;
  int productId = 0;
  std::string vendorIdText;   // 16 characters at most
  std::string productIdText;  // 16 characters at most
  std::string name;           // shown in the combo box
  std::string kind;           // "HID" or "COM"
  int comNumber = 0;          // a listed port's; 0 for the port search's first free port
};

inline constexpr int kUnitVendorId = 0x590;
inline constexpr int kUnitProductId = 0x4b;

// The choice of one link to the unit and its opening and closing.
class DeviceSession {
 public:
  DeviceSession(Window& window, CHIDControl& hid, CSerialLink& serial);

  // Fills the two entries and the combo box, then lists the other ports (all but the
  // port search's, shown first) after them; run once while the dialog initialises.
  void FillInterfaceList(const std::vector<ListedPort>& otherPorts = {});
  // "Open" on the selected entry. onSerialOpened runs where the bootloader link state is
  // reset, after a serial link opened.
  void OnOpen(const std::function<void()>& onSerialOpened);
  void OnClose();

  const InterfaceEntry* SelectedEntry() const;

  CHIDControl& Hid() { return hid_; }
  CSerialLink& Serial() { return serial_; }

  int sessionState = SessionState::None;
  int comPortNumber = 0;
  std::vector<InterfaceEntry> interfaceList;

 private:
  Window& window_;
  CHIDControl& hid_;
  CSerialLink& serial_;
};

}  // namespace morlane
