#pragma once

#include <filesystem>
#include <functional>
#include <vector>

#include "app/package_choice.h"
#include "app/update_dispatch.h"
#include "console/command_console.h"
#include "flash/inverter_flasher.h"
#include "image/usb_firmware.h"
#include "link/device_session.h"
#include "link/dialog_context.h"
#include "link/hid_control.h"
#include "link/image_buffer.h"
#include "link/serial_link.h"
#include "platform/clock.h"
#include "platform/hid_device.h"
#include "platform/serial_port.h"
#include "ui/dialog_values.h"
#include "ui/reporting_window.h"
#include "ui/run_events.h"
#include "ui/window.h"

namespace morlane {

// The main dialog: its state and handlers, free of any toolkit. It owns every other
// object of the tool; the window it is shown in is handed to it.
class CKestrumDlg {
 public:
  CKestrumDlg(Window& window, Clock& clock, SerialPortFactory& ports, HidBackend& hidBackend);
  ~CKestrumDlg();
  CKestrumDlg(const CKestrumDlg&) = delete;
  CKestrumDlg& operator=(const CKestrumDlg&) = delete;

  // Runs once the window exists.
  void OnInitDialog();
  // A command from a control (button click, check-box click), Enter (1) or Escape (2).
  void OnCommand(int id);
  // A system-menu command: the About entry or SC_CLOSE.
  void OnSysCommand(int command);
  // The one clean-up of every way the dialog ends (close command, Escape, the end of a
  // command-line run): the command test stopped and joined with MCUlog.txt closed, then
  // the open link closed. Safe to call more than once.
  void EndDialog();
  bool Ended() const { return ended_; }

  // A later start of the tool was given options while this window ran: it only brought the
  // window forward, and the log says that its options were not applied.
  void OnOptionsNotApplied();

  // Called for the About command; the window shows the About box.
  std::function<void()> showAbout;
  // Called once EndDialog has run; the window closes.
  std::function<void()> closeWindow;

  // A window sets this: when "Automatic" or "Update Firmware" leaves the serial port closed
  // (as they do when they end), the log says so and Open can be pressed again. A run of
  // the command line ends there, and its log stays the dialog's own.
  bool announceClosedLink = false;

  // The serial ports a window lists after "COMn" and "USB" (ui/listed_ports.h), each under
  // the number the dialog's ports open it by; set before OnInitDialog.
  std::vector<ListedPort> listedPorts;
  // The front end runs the simulated unit (--simulate): the window's title says so.
  bool simulatedUnit = false;

  // Outcome of the last procedure a handler ran: 1 success, 0 failure. The dialog's
  // handlers return nothing; the command-line front end reads this for its exit status.
  int lastResult = 0;

  // Where the procedures report their typed events, beside the log: a front end that
  // wants them sets the listener.
  EventRelay events;

 private:
  // The front end's window, with every log line and message box reported to events as
  // well; window below is this one.
  ReportingWindow reportingWindow_;

 public:
  Window& window;
  Clock& clock;
  // See DialogContext::workingDir; set before the first procedure runs.
  std::filesystem::path workingDir;
  DialogValues values;
  FirmwareSelection selection;
  CHIDControl hid;
  CSerialLink serial;
  DeviceSession session;
  DialogContext context;
  ImageBuffer image;
  InverterFlasher flasher;
  UpdateDispatch dispatch;
  UsbFirmware usbFirmware;
  CommandConsole console;
  // "Open Package...": the service package the procedures program from, when one is taken.
  PackageChoice packageChoice{*this};

  static constexpr int kSysClose = 0xF060;
  static constexpr int kIdOk = 1;
  static constexpr int kIdCancel = 2;

 private:
  bool RefusedWhileTestRuns();
  void AnnounceClosedLink();
  void OnModeAuto();
  void OnModeManual();
  void OnSelectFirmware();
  void OnProtectSection();
  void OnOpenPackage();

  bool ended_ = false;
};

}  // namespace morlane
