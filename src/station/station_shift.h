#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "platform/folder_lock.h"
#include "platform/serial_port.h"
#include "records/record_store.h"
#include "station/line_feed.h"
#include "station/live_report.h"
#include "station/profile.h"
#include "station/station.h"
#include "ui/event_file.h"

namespace morlane {

// What a station's window runs for a shift, from a profile that passed its checks: the
// records opened, the line's database fed after every kept run when the profile names
// one, the typed events written when asked, and the engine on the slots' ports. The
// window only shows it; its own options add nothing but the events' file.
class StationShift {
 public:
  // Null, with why, when the records or the events' file cannot be opened or the line's
  // database is of a kind this build cannot reach. eventsPath "" writes no events;
  // operatorName is the operator until a badge scan names another.
  static std::unique_ptr<StationShift> Open(const StationProfile& profile, SerialPortFactory& ports,
                                            const std::string& eventsPath,
                                            const std::optional<std::string>& operatorName,
                                            std::string* why);
  ~StationShift();
  StationShift(const StationShift&) = delete;
  StationShift& operator=(const StationShift&) = delete;

  Station& Engine() { return *station_; }
  RecordStore& Records() { return *store_; }
  // The station's name in its records: the profile's, or the host's.
  const std::string& Name() const { return name_; }

 private:
  StationShift() = default;

  std::string name_;
  std::unique_ptr<FolderLock> folderLock_;
  std::unique_ptr<RecordStore> store_;
  std::unique_ptr<LineFeed> lineFeed_;
  std::FILE* eventsOut_ = nullptr;
  std::unique_ptr<EventFile> events_;
  std::unique_ptr<Station> station_;
  std::unique_ptr<LiveReport> live_;
};

}  // namespace morlane
