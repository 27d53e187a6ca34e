// morlane: the tool's window.
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QTimer>

#include <cstdio>

#include "app/kestrum_app.h"
#include "app/kestrum_dlg.h"
#include "gui/app_icon.h"
#include "gui/folder_settings.h"
#include "gui/gui_clock.h"
#include "gui/gui_options.h"
#include "gui/qt_window.h"
#include "gui/station_main.h"
#include "gui/termination.h"
#include "gui/text_convert.h"
#include "sim/host_platform.h"
#include "ui/listed_ports.h"

namespace {

using namespace morlane;
using namespace morlane::gui;

// Long enough for the first paint of every control.
constexpr int kScreenshotDelayMs = 300;

int Run(QApplication& application) {
  GuiOptions options;
  std::string message;
  switch (ParseGuiOptions(application.arguments(), &options, &message)) {
    case ParseOutcome::Exit:
      return 0;
    case ParseOutcome::Usage:
      std::fprintf(stderr, "morlane: %s\n", message.c_str());
      return 2;
    case ParseOutcome::Run:
      break;
  }

  if (options.chooseStation && options.station.empty()) {
    // Started from the desktop's "Morlane Station": the profile is asked for; none chosen
    // ends the start as a cancelled dialog does.
    const QString chosen = QFileDialog::getOpenFileName(
        nullptr, QStringLiteral("Open Station Profile"), QDir::homePath(),
        QStringLiteral("Station profiles (*.toml);;All files (*)"));
    if (chosen.isEmpty()) return 0;
    options.station = FromQString(chosen);
  }
  if (!options.station.empty()) return RunStationWindow(application, options);

  CKestrumApp instance(options.instanceTag);
  switch (instance.InitInstance(WindowOptionsGiven(options))) {
    case CKestrumApp::Start::Second:
      return 0;  // the running window was raised instead
    case CKestrumApp::Start::Unguarded:
      std::fprintf(stderr,
                   "morlane: %s is held by another user; running without the "
                   "single-instance check\n",
                   instance.Name().c_str());
      break;
    case CKestrumApp::Start::First:
      break;
  }

  sim::HostPlatform platform;
  if (!platform.Start(options.simulate, options.ports, &message)) {
    std::fprintf(stderr, "morlane: cannot start the simulated unit: %s\n", message.c_str());
    return 1;
  }
  if (!platform.ApplyFaults(options.simulateFaults, &message)) {
    std::fprintf(stderr, "morlane: %s\n", message.c_str());
    return 2;
  }

  int status = 0;
  {
    FolderSettings folderSettings;
    QtWindow window;
    GuiClock clock;
    // The combo box lists every serial port the system has after its first two entries.
    std::unique_ptr<ListedPortFactory> ports = WithSystemPorts(platform.Ports());
    CKestrumDlg dialog(window, clock, *ports, platform.HidDevices());
    dialog.listedPorts = ports->Listed();
    dialog.simulatedUnit = options.simulate;
    // The working folder: the one chosen with "Working Folder..." at an earlier start
    // while it is still a folder, else the folder the window was started in. It stays
    // the working folder wherever a file dialog browses, until another is chosen.
    dialog.workingDir = folderSettings.StartFolder();
    window.SetFolderSettings(&folderSettings);
    window.Attach(dialog);
    dialog.OnInitDialog();

    instance.SetOptionsNotAppliedHandler([&window, &dialog] {
      QMetaObject::invokeMethod(
          &window, [&dialog] { dialog.OnOptionsNotApplied(); }, Qt::QueuedConnection);
    });
    instance.SetActivateHandler([&window] {
      QMetaObject::invokeMethod(
          &window, [&window] { window.Activate(); }, Qt::QueuedConnection);
    });
    TerminationWatcher watcher([&window] { window.RequestClose(); });

    window.SetServiceView(options.service);
    window.show();
    if (!options.screenshot.empty()) {
      QTimer::singleShot(kScreenshotDelayMs, &window, [&] {
        if (!window.grab().save(ToQString(options.screenshot), "PNG")) {
          std::fprintf(stderr, "morlane: cannot write %s\n", options.screenshot.c_str());
          status = 1;
        }
        window.RequestClose();
      });
    }
    int loop = application.exec();
    if (status == 0) status = loop;
    // Nothing may reach the window once it goes.
    instance.Stop();
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // --help and --version need no display: they are answered before the toolkit connects
  // to one, so that they work in a terminal without it. Arguments only the toolkit knows
  // (-platform, -style, ...) are left to the full parse below.
  {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    GuiOptions ignored;
    std::string message;
    if (ParseGuiOptions(arguments, &ignored, &message) == ParseOutcome::Exit) return 0;
  }
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("morlane"));
  QApplication::setApplicationVersion(QStringLiteral(MORLANE_VERSION));
  // The desktop entry the package installs: the desktop shows the window under its name
  // and icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.morlane.Morlane"));
  QApplication::setWindowIcon(AppIcon());
  return Run(application);
}
