#include "station/live_report.h"

namespace morlane {

std::string LiveStateOf(const SlotView& view) {
  switch (view.phase) {
    case SlotPhase::Idle:
      return "idle";
    case SlotPhase::Present:
      return "present";
    case SlotPhase::Running:
      return "running";
    case SlotPhase::Done:
      return view.result.empty() ? "idle" : view.result;
    case SlotPhase::OutOfService:
      return "out_of_service";
  }
  return "idle";
}

LiveReport::LiveReport(Station& station, std::string name, const StationProfile& profile)
    : station_(station), name_(std::move(name)) {
  for (const ApprovedImage& image : profile.images) images_.push_back(image.sha256);
}

LiveStation LiveReport::Now() {
  LiveStation report;
  report.station = name_;
  report.online = true;
  const std::string now = Iso8601Local(clock_.CalendarSeconds());
  report.reported = now;
  const std::optional<std::string> operatorName = station_.Operator();
  const std::vector<SlotView> views = station_.View();
  std::lock_guard lock(mutex_);
  for (const SlotView& view : views) {
    LiveSlot slot;
    slot.slot = view.name;
    slot.state = LiveStateOf(view);
    slot.unitId = view.phase == SlotPhase::Idle ? std::nullopt : view.unitId;
    if (view.phase == SlotPhase::Running) {
      slot.step = view.step;
      slot.percent = view.percent;
    } else if (view.phase == SlotPhase::Done) {
      slot.step = view.failedStep;
      slot.percent = view.result == "pass" ? 100 : view.percent;
    }
    // Since when it stands so: a new state, or another unit in it, starts the clock anew.
    Standing& standing = standing_[view.name];
    if (standing.since.empty() || standing.state != slot.state || standing.unitId != slot.unitId) {
      standing = {slot.state, slot.unitId, now};
    }
    slot.since = standing.since;
    slot.operatorName = operatorName;
    slot.images = images_;
    report.slots.push_back(std::move(slot));
  }
  return report;
}

}  // namespace morlane
