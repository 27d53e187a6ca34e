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
  // end in the middle of a burn: the first closes the window as its close button does
  // (running units finish), a second stops them.
  std::atomic<int> presses{0};
  StopRequests signals(presses);
  int status = 0;
  {
    StationWindow window(station, shift->Records(), shift->Name());
    QTimer stopPoll;
    int handled = 0;
    QObject::connect(&stopPoll, &QTimer::timeout, &window, [&] {
      const int pressed = presses.load();
      if (pressed == handled) return;
      handled = pressed;
      if (pressed >= 2) station.StopNow();
      window.close();
    });
    stopPoll.start(kStopPollMs);
    station.Start();
    window.show();
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
