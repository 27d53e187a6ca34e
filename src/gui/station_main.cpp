#include "gui/station_main.h"

#include <QTimer>

#include <cstdio>
#include <filesystem>

#include "gui/station_window.h"
#include "gui/text_convert.h"
#include "platform/file_io.h"
#include "platform/utf8_path.h"
#include "sim/host_platform.h"
#include "station/station_setup.h"

namespace morlane::gui {

int RunStationWindow(QApplication& application, const GuiOptions& options) {
  std::error_code error;
  const std::string path =
      PathToUtf8(std::filesystem::absolute(PathFromUtf8(options.station), error));
  std::string why;
  std::optional<StationProfile> profile = LoadStationProfile(path, &why);
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
  std::unique_ptr<RecordStore> store =
      RecordStore::Open(profile->records, RecordStore::Mode::Write, &why);
  if (!store) {
    std::fprintf(stderr, "morlane: %s\n", why.c_str());
    return 2;
  }
  const std::string name = profile->station.empty() ? HostName() : profile->station;
  Station station(*profile, platform.Ports(), SlotPorts(*profile, platform.Ports()), *store,
                  {name, std::nullopt});
  station.onRemark = [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); };
  int status = 0;
  {
    StationWindow window(station, *store, name);
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
  station.Finish();
  station.Join();
  return status;
}

}  // namespace morlane::gui
