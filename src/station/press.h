#pragma once

#include <string>

#include "app/headless_window.h"
#include "app/kestrum_dlg.h"

namespace morlane {

// The dialog's controls pressed for a run, as a technician presses them: the single runs
// of morlane-cli and every unit of a station press the same buttons.

// Selects "com" (entry 0) or "usb" (entry 1) and presses "Open"; true when a session opened.
bool PressOpen(HeadlessWindow& window, CKestrumDlg& dialog, const std::string& link);
// "Manual", FILE chosen, the CPU set when given, "Update Firmware": on a dialog whose COM
// link is open. 1 when the procedure succeeded.
int PressFlash(HeadlessWindow& window, CKestrumDlg& dialog, const std::string& path,
               const std::string& cpu);
// "Auto", "Automatic". 1 when the procedure succeeded.
int PressAuto(HeadlessWindow& window, CKestrumDlg& dialog);
// The end of every run that opened a link: the command test stopped, "Close".
void PressClose(HeadlessWindow& window, CKestrumDlg& dialog);

}  // namespace morlane
