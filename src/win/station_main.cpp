#include "win/station_main.h"

#include <cstdlib>
#include <memory>

#include "sim/host_platform.h"
#include "station/station_setup.h"
#include "station/station_shift.h"
#include "win/station_view.h"
#include "win/window_picture.h"

namespace morlane::win {

namespace {
// Long enough for the tiles' first paint.
constexpr int kScreenshotDelayMs = 500;
}  // namespace

int RunStationView(const WinOptions& options,
                   const std::function<void(const std::string&)>& report) {
  std::string why;
  std::optional<StationProfile> profile = LoadStationProfile(options.station, &why);
  if (!profile) {
    report(why);
    return 2;
  }
  const int simulateUnits =
      options.simulateUnits.empty() ? 0 : std::atoi(options.simulateUnits.c_str());
  int delayMs = kScreenshotDelayMs;
  if (!options.screenshotDelayMs.empty()) delayMs = std::atoi(options.screenshotDelayMs.c_str());
  if ((!options.simulateUnits.empty() && (simulateUnits < 1 || simulateUnits > 64)) ||
      delayMs < 0 || delayMs > 600000) {
    report("--simulate-units takes 1 to 64 units, --screenshot-delay-ms up to 600000");
    return 2;
  }
  sim::HostPlatform platform;
  if (!platform.StartStation(SlotDevices(*profile), simulateUnits, options.simulateFaults, &why)) {
    report(why);
    return 2;
  }
  std::optional<std::string> operatorName;
  if (!options.operatorName.empty()) operatorName = options.operatorName;
  std::unique_ptr<StationShift> shift =
      StationShift::Open(*profile, platform.Ports(), options.events, operatorName, &why);
  if (!shift) {
    report(why);
    return 2;
  }
  Station& station = shift->Engine();
  int status = 0;
  {
    StationView view(station, shift->Records(), shift->Name());
    station.Start();
    view.Show(options.screenshotMaximised ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL);
    for (const std::string& scan : options.scans) view.Type(scan);
    if (!options.screenshot.empty()) {
      view.RunLater(delayMs, [&] {
        view.Refresh();
        if (!SavePicture(CaptureClient(view.Handle()), options.screenshot)) {
          report("cannot write " + options.screenshot);
          status = 1;
        }
        view.RequestClose();
      });
    }
    view.RunMessageLoop();
  }
  return status;
}

}  // namespace morlane::win
