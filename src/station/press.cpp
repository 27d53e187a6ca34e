#include "station/press.h"

#include "ui/control_ids.h"

namespace morlane {

bool PressOpen(HeadlessWindow& window, CKestrumDlg& dialog, const std::string& link) {
  window.SetComboSelection(ctl::kInterfaceCombo, link == "usb" ? 1 : 0);
  window.Click(ctl::kOpen);
  return dialog.session.sessionState != SessionState::None;
}

int PressFlash(HeadlessWindow& window, CKestrumDlg& dialog, const std::string& path,
               const std::string& cpu) {
  window.Click(ctl::kModeManual);
  window.QueueFileDialogAnswer(path);
  // --cpu answers the dialog's question when the path leaves the CPU open; without it such
  // a path was refused before.
  window.SetCpuAnswer(cpu.empty()      ? std::optional<CpuChoice>()
                      : cpu == "slave" ? CpuChoice::Slave
                                       : CpuChoice::Master);
  if (!window.Click(ctl::kSelectFirmware) || dialog.selection.firmwarePath != path) return 0;
  if (!cpu.empty()) dialog.selection.cpuTarget = cpu == "slave" ? 1 : 0;
  window.Click(ctl::kUpdateFirmware);
  return dialog.lastResult;
}

int PressAuto(HeadlessWindow& window, CKestrumDlg& dialog) {
  window.Click(ctl::kModeAuto);
  if (!window.Click(ctl::kAutomatic)) return 0;
  return dialog.lastResult;
}

void PressClose(HeadlessWindow&, CKestrumDlg& dialog) {
  // A procedure may have closed the link's port already; "Close" still reports the
  // session's end and returns the controls to the closed arrangement.
  dialog.console.Shutdown();
  dialog.OnCommand(ctl::kClose);
}

}  // namespace morlane
