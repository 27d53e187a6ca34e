#pragma once

#include <string>

#include "app/headless_window.h"
#include "app/kestrum_dlg.h"
#include "platform/inprocess_hid.h"
#include "support/memory_serial.h"
#include "support/virtual_clock.h"
#include "ui/control_ids.h"

namespace morlane::fuzz {

// One dialog as a run builds it, on a virtual clock (every wait passes at once), with the
// unit's serial side as COM1 on an in-memory line and an in-process HID backend.
struct FuzzDialog {
  FuzzDialog() : line(clock) {
    ports.Add(1, &line);
    window.SetCommandHandler([this](int id) { dialog.OnCommand(id); });
    dialog.OnInitDialog();
  }
  // Open on the chosen entry of the combo box: 0 the COM port, 1 the unit's USB side.
  bool Open(int entry) {
    window.SetComboSelection(ctl::kInterfaceCombo, entry);
    window.Click(ctl::kOpen);
    return dialog.session.sessionState != SessionState::None;
  }

  test::VirtualClock clock;
  test::MemoryLine line;
  test::MemoryPortFactory ports;
  InProcessHidBackend hid;
  HeadlessWindow window;
  CKestrumDlg dialog{window, clock, ports, hid};
};

// A fresh folder of this process's own, made the current directory, where the run finds
// tmp.bin; returns its path.
std::string EnterScratchFolder();
void WriteFile(const std::string& path, const uint8_t* data, size_t size);

}  // namespace morlane::fuzz
