#include "app/kestrum_dlg.h"

#include <filesystem>

#include "platform/priority.h"
#include "ui/control_ids.h"
#include "ui/hscroll_listbox.h"
#include "ui/log.h"
#include "ui/session_controls.h"

namespace morlane {

namespace {

constexpr std::string_view kLinkClosedNotice =
    "The serial port is closed now: the update closes it when it ends.";
constexpr std::string_view kOpenAgainNotice = "Press Open to work with the unit again.";

constexpr const char* kStopTestFirst = "Stop the automatic command test first!";

constexpr std::string_view kOptionsNotApplied =
    "Another start with options only brought this window to the front: its options were not "
    "applied (close this window, then start again with them).";

std::string CpuQuestion(const std::string& path, PathCpu named) {
  return std::string("The path of this firmware file names ") +
         (named == PathCpu::Both ? "both CPUs (master and slave)" : "neither CPU (master, slave)") +
         ":\n" + path + "\n\nWhich CPU is it for?";
}

}  // namespace

CKestrumDlg::CKestrumDlg(Window& window_, Clock& clock_, SerialPortFactory& ports,
                         HidBackend& hidBackend)
    : reportingWindow_(window_, events),
      window(reportingWindow_),
      clock(clock_),
      hid(hidBackend, clock_),
      serial(ports, clock_),
      session(reportingWindow_, hid, serial),
      context{reportingWindow_, clock_, session, values, selection, workingDir, events},
      flasher(context, image),
      dispatch(context, image, flasher),
      usbFirmware(context),
      console(context) {}

CKestrumDlg::~CKestrumDlg() {
  EndDialog();
}

void CKestrumDlg::OnInitDialog() {
  values.LoadIntoControls(window);
  console.InitCommandTable();
  session.FillInterfaceList(listedPorts);
  session.sessionState = SessionState::None;
  session.comPortNumber = 0;
  // The closest this system has to the real-time class; refusal is of no consequence.
  RaiseProcessPriority();
}

void CKestrumDlg::OnCommand(int id) {
  lastResult = 0;
  switch (id) {
    case kIdOk:
      break;  // Enter does nothing.
    case kIdCancel:
      EndDialog();
      break;
    case ctl::kOpen:
      values.SaveFromControls(window);
      session.OnOpen([this] { flasher.ResetBootLink(); });
      lastResult = session.sessionState != SessionState::None ? 1 : 0;
      break;
    case ctl::kClose:
      session.OnClose();
      lastResult = 1;
      break;
    case ctl::kClearLog:
      window.LogList().ResetContent();
      break;
    case ctl::kModeAuto:
      OnModeAuto();
      break;
    case ctl::kModeManual:
      OnModeManual();
      break;
    case ctl::kAutomatic:
      if (RefusedWhileTestRuns()) break;
      lastResult = flasher.AutoUpdate();
      AnnounceClosedLink();
      break;
    case ctl::kSelectFirmware:
      OnSelectFirmware();
      break;
    case ctl::kCancelUpdate:
      break;  // Nothing can be interrupted by it.
    case ctl::kProtectSection:
      OnProtectSection();
      break;
    case ctl::kUpdateFirmware:
      if (RefusedWhileTestRuns()) break;
      lastResult = dispatch.OnUpdateFirmware();
      AnnounceClosedLink();
      break;
    case ctl::kSelectUsbFirmware:
      lastResult = usbFirmware.OnSelectUsbFirmware();
      break;
    case ctl::kUpdateUsbFirmware:
      usbFirmware.OnUpdateUsbFirmware();
      break;
    case ctl::kSend:
      lastResult = console.OnSend();
      break;
    case ctl::kStart:
      console.OnStart();
      break;
    case ctl::kStop:
      console.OnStop();
      break;
    default:
      break;
  }
}

void CKestrumDlg::OnSysCommand(int command) {
  if ((command & 0xFFF0) == ctl::kAboutCommand) {
    if (showAbout) showAbout();
  } else if ((command & 0xFFF0) == ctl::kOpenPackageCommand) {
    OnOpenPackage();
  } else if ((command & 0xFFF0) == kSysClose) {
    EndDialog();
  }
}

void CKestrumDlg::OnOpenPackage() {
  FileDialogRequest request{"*.mlpkg", "*.mlpkg",
                            "Service Packages (*.mlpkg)|*.mlpkg|All Files (*.*)|*.*|", true};
  std::optional<std::string> chosen = window.OpenFileDialog(request);
  if (!chosen) return;
  AppendLogLine(window, kDash36);
  // The signers the user and the machine trust; a window takes no unsigned package.
  lastResult = packageChoice.Open(*chosen, package::TrustFor({}, false, {})) ? 1 : 0;
  // "Automatic" programs from it: the mode is chosen for the technician.
  if (lastResult) OnModeAuto();
  AppendLogLine(window, kDash36);
}

void CKestrumDlg::OnOptionsNotApplied() {
  AppendLogLine(window, kOptionsNotApplied);
}

void CKestrumDlg::EndDialog() {
  if (ended_) return;
  ended_ = true;
  // The worker uses the link and writes the test log: it is stopped first, then the link
  // of the session is closed.
  console.Shutdown();
  if (session.sessionState == SessionState::Hid) {
    hid.Close();
  } else if (session.sessionState == SessionState::Serial) {
    serial.Close();
  }
  if (closeWindow) closeWindow();
}

// "Automatic" and "Update Firmware" close and reopen the link, or update the MCU over it,
// while the command test's worker may be in the middle of an exchange on it. The mode
// check boxes can enable them again during a test, so the procedures refuse to start
// until the test is stopped.
bool CKestrumDlg::RefusedWhileTestRuns() {
  if (!console.TestRunning()) return false;
  AppendLogLine(window, kStopTestFirst);
  return true;
}

// The procedures close the port when they end, while the session still counts as open:
// "Send" would wait for an answer that cannot come, and Open stayed greyed out. The
// session is ended as Close would end it, with a word on what to do next.
void CKestrumDlg::AnnounceClosedLink() {
  if (!announceClosedLink || session.sessionState != SessionState::Serial || serial.IsOpen()) {
    return;
  }
  session.sessionState = SessionState::None;
  SetSessionControls(window, 0);
  AppendLogLine(window, kLinkClosedNotice);
  AppendLogLine(window, kOpenAgainNotice);
  AppendLogLine(window, kDash36);
}

void CKestrumDlg::OnModeAuto() {
  window.SetCheck(ctl::kModeAuto, 1);
  window.SetCheck(ctl::kModeManual, 0);
  if (window.GetCheck(ctl::kModeAuto)) {
    window.EnableControl(ctl::kSelectFirmware, false);
    window.EnableControl(ctl::kAutomatic, true);
  }
}

void CKestrumDlg::OnModeManual() {
  window.SetCheck(ctl::kModeAuto, 0);
  window.SetCheck(ctl::kModeManual, 1);
  if (session.sessionState == SessionState::Serial && window.GetCheck(ctl::kModeManual)) {
    window.EnableControl(ctl::kSelectFirmware, true);
    window.EnableControl(ctl::kAutomatic, false);
  }
}

void CKestrumDlg::OnSelectFirmware() {
  FileDialogRequest request{"*.bin", "*.bin", "FirmWare Files (*.bin)|*.bin|All Files (*.*)|*.*|",
                            true};
  std::optional<std::string> chosen = window.OpenFileDialog(request);
  if (!chosen) return;
  const PathCpu named = CpuNamedInPath(*chosen);
  bool master = named == PathCpu::Master;
  if (named == PathCpu::Neither || named == PathCpu::Both) {
    // A path that leaves the CPU to chance is never taken as the slave's: the user says
    // which CPU, and Cancel leaves everything as it was, as cancelling the file dialog does.
    const CpuChoice choice = window.AskCpu(CpuQuestion(*chosen, named));
    if (choice == CpuChoice::Cancel) return;
    master = choice == CpuChoice::Master;
  }
  selection.firmwarePath = *chosen;
  AppendLogLine(window, "The MCU firmware file name is");
  AppendLogLine(window, selection.firmwarePath);
  if (master) {
    selection.cpuTarget = 0;
    AppendLogLine(window, "beginning burn master cpu ...\n");
  } else {
    selection.cpuTarget = 1;
    AppendLogLine(window, "beginning burn slave cpu....\n");
  }
  window.EnableControl(ctl::kUpdateFirmware, true);
  AppendLogLine(window, kDash36);
  lastResult = 1;
}

void CKestrumDlg::OnProtectSection() {
  values.SaveFromControls(window);
  if (values.protectSectionChecked == 1) {
    window.MessageBox(
        "BE CAREFUL! This function will damage the unit if your update process has terminated");
  }
}

}  // namespace morlane
