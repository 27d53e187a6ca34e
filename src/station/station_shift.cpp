#include "station/station_shift.h"

#include "platform/file_io.h"
#include "station/station_setup.h"

namespace morlane {

std::unique_ptr<StationShift> StationShift::Open(const StationProfile& profile,
                                                 SerialPortFactory& ports,
                                                 const std::string& eventsPath,
                                                 const std::optional<std::string>& operatorName,
                                                 std::string* why) {
  std::unique_ptr<StationShift> shift(new StationShift);
  shift->name_ = profile.station.empty() ? HostName() : profile.station;
  shift->store_ = RecordStore::Open(profile.records, RecordStore::Mode::Write, why);
  if (!shift->store_) return nullptr;
  shift->folderLock_ = LockRecordsFolder(profile.records, why);
  if (!shift->folderLock_) return nullptr;
  if (!profile.recordsDb.empty()) {
    shift->lineFeed_ = LineFeed::Open(profile.recordsDb, *shift->store_, profile.records, why);
    if (!shift->lineFeed_) {
      *why = "records_db: " + *why;
      return nullptr;
    }
  }
  if (!eventsPath.empty()) {
    shift->eventsOut_ = OpenStream(eventsPath, "w");
    if (!shift->eventsOut_) {
      *why = "cannot write " + eventsPath;
      return nullptr;
    }
    shift->events_ = std::make_unique<EventFile>(shift->eventsOut_);
  }
  shift->station_ =
      std::make_unique<Station>(profile, ports, SlotPorts(profile, ports), *shift->store_,
                                StationIdentity{shift->name_, operatorName});
  shift->station_->events = shift->events_.get();
  if (shift->lineFeed_) {
    // A window has no terminal: what the line's database says is the station's remark,
    // shown on the operator's screen.
    shift->lineFeed_->say = [station = shift->station_.get()](const std::string& text) {
      station->Say(text);
    };
    shift->station_->afterKept = [feed = shift->lineFeed_.get()] { feed->Send(); };
    shift->live_ = std::make_unique<LiveReport>(*shift->station_, shift->name_, profile);
    shift->lineFeed_->ReportLive([live = shift->live_.get()] { return live->Now(); });
  }
  return shift;
}

StationShift::~StationShift() {
  if (station_) {
    station_->Finish();
    station_->Join();
  }
  // The backlog is tried once more, bounded, and what still waits is said on the station.
  if (lineFeed_) lineFeed_->Finish();
  station_.reset();
  if (eventsOut_) std::fclose(eventsOut_);
}

}  // namespace morlane
