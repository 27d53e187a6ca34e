#include "gui/station_main.h"

#include <QTimer>

#include <atomic>
#include <cstdio>

#include "gui/station_window.h"
#include "gui/text_convert.h"
#include "platform/console_io.h"
#include "sim/host_platform.h"
#include "station/station_setup.h"
#include "station/station_shift.h"

namespace morlane::gui {

namespace {
constexpr int kStopPollMs = 100;
}  // namespace

int RunStationWindow(QApplication& application, const GuiOptions& options) {
  std::string why;
  std::optional<StationProfile> profile = LoadStationProfile(options.station, &why);
  if (!profile) {
    std::fprintf(stderr, "morlane: %s\n", why.c_str());
    return 2;
  }
  sim::HostPlatform platform;
  if (!platform.StartStation(SlotDevices(*profile), options.simulateUnits, options.simulateFaults,
                             &why)) {
    std::fprintf(stderr, "morlane: %s\n", why.c_str());
    return 2;
  }
  std::optional<std::string> operatorName;
  if (!options.operatorName.empty()) operatorName = options.operatorName;
  std::unique_ptr<StationShift> shift =
      StationShift::Open(*profile, platform.Ports(), options.events, operatorName, &why);
  if (!shift) {
    std::fprintf(stderr, "morlane: %s\n", why.c_str());
    return 2;
  }
  Station& station = shift->Engine();
  station.onRemark = [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); };

  // Ctrl-C in the terminal the window was started from is the operator's too, never an
  // end in the middle of a burn. The first stops the station: no unit starts, the running
  // ones finish, and the window stays with the last verdicts for the operator to read. A
  // second while units still run stops them now; one after the station has stopped, with
  // no unit running, closes the window.
  std::atomic<int> presses{0};
  StopRequests signals(presses);
  int status = 0;
  {
    StationWindow window(station, shift->Records(), shift->Name());
    window.onStopped = [] {
      std::fprintf(stderr, "Stopped: the last verdicts stay until the window is closed\n");
    };
    QTimer stopPoll;
    int handled = 0;
    QObject::connect(&stopPoll, &QTimer::timeout, &window, [&] {
      // Presses between two polls are taken in turn: two quick ones stop the units now.
      for (const int pressed = presses.load(); handled < pressed; ++handled) {
        if (!window.Stopping()) {
          std::fprintf(stderr, "Stopping: the running units finish first\n");
          window.StopStation();
        } else if (station.Busy()) {
          std::fprintf(stderr, "Stopping now: the running units stop\n");
          station.StopNow();
        } else {
          window.close();
        }
      }
    });
    stopPoll.start(kStopPollMs);
    station.Start();
    // The station's screen is the operator's only window: it takes the whole screen.
    window.showMaximized();
    for (const std::string& scan : options.scans) window.Type(scan);
    if (!options.screenshot.empty()) {
      QTimer::singleShot(options.screenshotDelayMs, &window, [&] {
        window.Refresh();
        if (!window.grab().save(ToQString(options.screenshot), "PNG")) {
          std::fprintf(stderr, "morlane: cannot write %s\n", options.screenshot.c_str());
          status = 1;
        }
        window.close();
      });
    }
    const int loop = application.exec();
    if (status == 0) status = loop;
  }
  return status;
}

}  // namespace morlane::gui
