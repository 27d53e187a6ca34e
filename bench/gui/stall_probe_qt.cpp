// How long the Qt window goes without painting while a procedure waits for a slow unit.
// The real window and dialog run offscreen on the in-process simulated unit, whose
// answers come late; a timer asks every 4 ms for a repaint of a button no procedure
// changes ("Clear Log"), so that only the window's own serving paints it, and every paint
// is stamped.
// For each procedure, started by a click on its button: the longest gap
// between paints and the 99th percentile of the gaps.
//
// Target: no gap over 50 ms.
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "../stall_figures.h"
#include "app/kestrum_dlg.h"
#include "gui/gui_clock.h"
#include "gui/qt_window.h"
#include "sim/host_platform.h"
#include "sim/sim_unit.h"
#include "ui/control_ids.h"
#include "ui/hscroll_listbox.h"

namespace {

using namespace morlane;

using bench::kProbeAnswerDelayMs;
using bench::kProbeReplyDelayMs;
constexpr int kRepaintEveryMs = 4;

// Stamps every paint of one widget.
class PaintStamps : public QObject {
 public:
  explicit PaintStamps(const QElapsedTimer& clock) : clock_(clock) {}
  std::vector<int64_t> stamps;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) stamps.push_back(clock_.elapsed());
    return QObject::eventFilter(watched, event);
  }

 private:
  const QElapsedTimer& clock_;
};

// Serves the window as its event loop does, for ms.
void Pump(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);

  std::error_code ignored;
  std::filesystem::path dir = std::filesystem::temp_directory_path() / "morlane-stall-probe";
  std::filesystem::remove_all(dir, ignored);
  std::filesystem::create_directories(dir, ignored);
  bench::WriteCpuImages(dir);

  sim::HostPlatform platform;
  std::string error;
  if (!platform.Start(true, {}, &error)) {
    std::fprintf(stderr, "stall_probe_qt: cannot start the simulated unit: %s\n", error.c_str());
    return 1;
  }
  platform.Simulated()->Faults().answerDelayMs = kProbeAnswerDelayMs;
  platform.Simulated()->Faults().replyDelayMs = kProbeReplyDelayMs;

  gui::QtWindow window;
  gui::GuiClock clock;
  CKestrumDlg dialog(window, clock, platform.Ports(), platform.HidDevices());
  dialog.workingDir = dir;
  window.Attach(dialog);
  dialog.OnInitDialog();
  window.show();

  QElapsedTimer since;
  since.start();
  PaintStamps paints(since);
  QWidget* watched = window.Control(ctl::kClearLog);
  watched->installEventFilter(&paints);
  QTimer repaint;
  QObject::connect(&repaint, &QTimer::timeout, [watched] { watched->update(); });
  repaint.start(kRepaintEveryMs);
  Pump(300);

  std::printf(
      "Qt window, offscreen, simulated unit answering after %d ms (service) and %d ms "
      "(bootloader, MCU updater); repaint asked every %d ms\n",
      kProbeAnswerDelayMs, kProbeReplyDelayMs, kRepaintEveryMs);
  std::printf("%-34s %9s %12s %12s %8s\n", "procedure", "span ms", "longest ms", "99th pct ms",
              "paints");
  auto measure = [&](const char* name, const std::function<void()>& procedure) {
    Pump(100);
    qint64 from = since.elapsed();
    procedure();
    qint64 to = since.elapsed();
    bench::StallFigures f = bench::GapsBetween(paints.stamps, from, to);
    std::printf("%-34s %9lld %12lld %12lld %8zu\n", name, static_cast<long long>(f.spanMs),
                static_cast<long long>(f.longestMs), static_cast<long long>(f.p99Ms), f.paints);
    std::fflush(stdout);
  };
  // A click on the button, through the window as a user's goes (the window busy while its
  // handler runs); buttons the dialog keeps hidden or disabled are made clickable first.
  auto press = [&](int id) {
    window.EnableControl(id, true);
    if (auto* button = qobject_cast<QAbstractButton*>(window.Control(id))) button->click();
  };
  auto openOn = [&](int entry) {
    press(ctl::kClose);
    window.SetComboSelection(ctl::kInterfaceCombo, entry);
    press(ctl::kOpen);
  };
  auto commandTest = [&] {
    // "Send" in the middle of the test waits for the worker's exchange on the link.
    press(ctl::kStart);
    Pump(bench::kProbeTestRunMs / 2);
    press(ctl::kSend);
    Pump(bench::kProbeTestRunMs / 2);
    press(ctl::kStop);
    QElapsedTimer ending;
    ending.start();
    while (dialog.console.TestRunning() && ending.elapsed() < 10000) Pump(5);
  };
  window.SetControlText(ctl::kCommandEdit, "Q1");
  window.SetCheck(ctl::kPlusEnter, 1);

  openOn(0);
  measure("Automatic, both CPUs (serial)", [&] { press(ctl::kAutomatic); });
  openOn(0);
  measure("Send Q1 (serial)", [&] { press(ctl::kSend); });
  measure("command test 3 s, Send (serial)", commandTest);
  openOn(1);
  bench::WriteMcuImage(dir);
  dialog.selection.cpuTarget = 0;
  measure("Update Firmware, MCU (USB)", [&] { press(ctl::kUpdateFirmware); });
  measure("Send Q1 (USB)", [&] { press(ctl::kSend); });
  measure("command test 3 s, Send (USB)", commandTest);

  bool flashed = false, installed = false;
  const bool showLog = std::getenv("STALL_PROBE_LOG") != nullptr;
  for (int i = 0; i < window.LogList().GetCount(); ++i) {
    std::string line = window.LogList().GetText(i);
    if (showLog) std::printf("log: %s\n", line.c_str());
    flashed = flashed || line == "File flash burn Successful!\n";
    installed = installed || line == "Install successful";
  }
  std::printf("outcome: both CPUs %s, MCU %s\n", flashed ? "programmed" : "NOT programmed",
              installed ? "installed" : "NOT installed");
  repaint.stop();
  press(ctl::kClose);
  std::filesystem::remove_all(dir, ignored);
  return flashed && installed ? 0 : 1;
}
