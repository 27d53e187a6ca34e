// morlane: the tool's window on Windows.
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "app/kestrum_dlg.h"
#include "platform/console_io.h"
#include "sim/host_platform.h"
#include "ui/control_ids.h"
#include "ui/listed_ports.h"
#include "win/file_dialog.h"
#include "win/folder_registry.h"
#include "win/single_instance.h"
#include "win/station_main.h"
#include "win/wide_text.h"
#include "win/win32.h"
#include "win/win_clock.h"
#include "win/win_options.h"
#include "win/win_window.h"
#include "win/window_picture.h"

namespace {

using namespace morlane;
using namespace morlane::win;

// Long enough for the first paint of every control.
constexpr int kScreenshotDelayMs = 300;

bool HasHandle(DWORD which) {
  HANDLE handle = GetStdHandle(which);
  return handle && handle != INVALID_HANDLE_VALUE;
}

// A program of the window subsystem gets no console. Started from one, it prints to that
// console; with its output redirected, there. Started from the desktop, there is nowhere.
bool CanPrint() {
  static const bool can = [] {
    if (HasHandle(STD_OUTPUT_HANDLE) && HasHandle(STD_ERROR_HANDLE)) return true;
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return HasHandle(STD_ERROR_HANDLE);
    if (!HasHandle(STD_OUTPUT_HANDLE)) std::freopen("CONOUT$", "w", stdout);
    if (!HasHandle(STD_ERROR_HANDLE)) std::freopen("CONOUT$", "w", stderr);
    return true;
  }();
  return can;
}

// Help, version and errors: printed, or in a box when there is nowhere to print.
void Tell(std::FILE* stream, const std::string& text, UINT icon) {
  if (CanPrint()) {
    std::fputs(text.c_str(), stream);
    std::fflush(stream);
  } else {
    MessageBoxW(nullptr, Wide(text).c_str(), L"morlane", MB_OK | icon);
  }
}

void ReportError(const std::string& text) {
  Tell(stderr, "morlane: " + text + "\n", MB_ICONERROR);
}

int Run(const WinOptions& options) {
  StartupLock startup(options.instanceTag);
  if (HWND running = FindRunningInstance(options.instanceTag)) {
    RaiseInstance(running, WindowOptionsGiven(options));
    return 0;  // the running window was raised instead
  }

  sim::HostPlatform platform;
  std::string error;
  if (!platform.Start(options.simulate, options.ports, &error)) {
    ReportError("cannot start the simulated unit: " + error);
    return 1;
  }
  if (!platform.ApplyFaults(options.simulateFaults, &error)) {
    ReportError(error);
    return 2;
  }

  int status = 0;
  const FolderRegistry folderRegistry;
  Win32Window window(options.instanceTag);
  WinClock clock;
  // The combo box lists every serial port the system has after its first two entries.
  std::unique_ptr<ListedPortFactory> ports = WithSystemPorts(platform.Ports());
  CKestrumDlg dialog(window, clock, *ports, platform.HidDevices());
  dialog.listedPorts = ports->Listed();
  dialog.simulatedUnit = options.simulate;
  // The working folder: the one chosen with "Working Folder..." at an earlier start while
  // it is still a folder, else the folder the window was started in (a shortcut's "Start
  // in"). It stays the working folder wherever a file dialog browses, until another is
  // chosen.
  dialog.workingDir = folderRegistry.StartFolder();
  window.SetFolderRegistry(&folderRegistry);
  window.Attach(dialog);
  dialog.OnInitDialog();
  // Before the window is first shown, so that it appears at its full size, centred.
  if (options.service) window.SetServiceView(true);
  if (options.screenshot.empty()) {
    window.Show(SW_SHOWDEFAULT);
  } else {
    window.Show(options.screenshotMaximised ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL);
  }
  startup.Release();

  if (!options.screenshot.empty()) {
    HWND combo = window.Control(ctl::kInterfaceCombo);
    auto shoot = [&, combo] {
      Picture picture = CaptureClient(window.Handle());
      COMBOBOXINFO box{};
      box.cbSize = sizeof box;
      if (options.screenshotPortList && GetComboBoxInfo(combo, &box) && box.hwndList) {
        // The dropped list is a window of its own, above the dialog: laid over its picture.
        POINT at{0, 0};
        ClientToScreen(box.hwndList, &at);
        ScreenToClient(window.Handle(), &at);
        LayOver(picture, CaptureClient(box.hwndList), at.x, at.y);
      }
      if (!SavePicture(picture, options.screenshot)) {
        ReportError("cannot write " + options.screenshot);
        status = 1;
      }
      window.RequestClose();
    };
    window.RunLater(kScreenshotDelayMs, [&, combo, shoot] {
      if (!options.screenshotPortList) {
        shoot();
        return;
      }
      SendMessageA(combo, CB_SHOWDROPDOWN, TRUE, 0);
      window.RunLater(kScreenshotDelayMs, shoot);
    });
  }
  int loop = window.RunMessageLoop();
  return status != 0 ? status : loop;
}

}  // namespace

int main(int argc, char** argv) {
  WinOptions options;
  std::string message;
  // Paths given on the command line (--screenshot) keep every character.
  std::vector<std::string> arguments = morlane::Utf8Arguments(argc, argv);
  if (!arguments.empty()) arguments.erase(arguments.begin());
  switch (ParseWinOptions(arguments, &options, &message)) {
    case ParseOutcome::Help:
      Tell(stdout, HelpText(), MB_ICONINFORMATION);
      return 0;
    case ParseOutcome::Version:
      Tell(stdout, VersionText() + "\n", MB_ICONINFORMATION);
      return 0;
    case ParseOutcome::Usage:
      ReportError(message + " (see --help)");
      return 2;
    case ParseOutcome::Run:
      break;
  }
  try {
    if (options.chooseStation && options.station.empty()) {
      // The profile is asked for; none chosen ends the start as a cancelled dialog does.
      FileDialogRequest request;
      request.defaultExtension = "*.toml";
      request.initialName = "*.toml";
      request.filter = "Station Profiles (*.toml)|*.toml|All Files (*.*)|*.*|";
      std::optional<std::string> chosen = RunOpenFileDialog(nullptr, request);
      if (!chosen) return 0;
      options.station = *chosen;
    }
    if (!options.station.empty()) return RunStationView(options, ReportError);
    return Run(options);
  } catch (const std::exception& failure) {
    ReportError(failure.what());
    return 1;
  }
}
