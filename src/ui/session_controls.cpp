#include "ui/session_controls.h"

#include "ui/control_ids.h"
#include "ui/window.h"

namespace morlane {

namespace {

// What each mode does to a control: enable, disable, or leave it as it is.
enum class To { Enabled, Disabled, Unchanged };

struct Arrangement {
  int id;
  To closed;
  To open;
};

constexpr Arrangement kArrangements[] = {
    {ctl::kOpen, To::Enabled, To::Disabled},
    {ctl::kInterfaceCombo, To::Enabled, To::Disabled},
    {ctl::kClose, To::Disabled, To::Enabled},
    {ctl::kSend, To::Disabled, To::Enabled},
    {ctl::kStart, To::Disabled, To::Enabled},
    {ctl::kSelectUsbFirmware, To::Disabled, To::Enabled},
    {ctl::kAutomatic, To::Disabled, To::Enabled},
    {ctl::kSelectFirmware, To::Disabled, To::Unchanged},
    {ctl::kUpdateFirmware, To::Disabled, To::Unchanged},
    {ctl::kUpdateUsbFirmware, To::Disabled, To::Unchanged},
    {ctl::kModeAuto, To::Unchanged, To::Enabled},
    {ctl::kModeManual, To::Unchanged, To::Enabled},
};

}  // namespace

void SetSessionControls(Window& window, int mode) {
  bool open = mode == 1;
  for (const auto& a : kArrangements) {
    To to = open ? a.open : a.closed;
    if (to != To::Unchanged) window.EnableControl(a.id, to == To::Enabled);
  }
  // An open session checks "Auto"; "Manual" keeps its mark.
  if (open) window.SetCheck(ctl::kModeAuto, 1);
}

}  // namespace morlane
