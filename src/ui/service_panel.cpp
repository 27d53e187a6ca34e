#include "ui/service_panel.h"

#include <algorithm>
#include <array>

#include "ui/control_ids.h"

namespace morlane {

namespace {

using K = ControlKind;

// The panel starts 6 units right of the template's edge (413) and is as tall as the log.
constexpr std::array kFrames{
    ControlSpec{0, K::GroupBox, "Command", 416, 8, 146, 46, false, true},
    ControlSpec{0, K::GroupBox, "Command Test", 416, 58, 146, 84, false, true},
    ControlSpec{0, K::GroupBox, "USB Firmware", 416, 146, 146, 56, false, true},
};

// The command check boxes in the order of the command table, row by row. The table's
// "V" entry has no box of its own: it follows "Auto" of the firmware group, which the
// template already shows.
constexpr std::array kPlacements{
    ServicePlacement{ctl::kCommandEdit, 422, 20, 88, 12},
    ServicePlacement{ctl::kPlusEnter, 516, 20, 40, 12},
    ServicePlacement{ctl::kSend, 422, 36, 50, 13},
    ServicePlacement{ctl::kClose, 506, 36, 50, 13},
    ServicePlacement{ctl::kCheckQ1, 422, 70, 42, 10},
    ServicePlacement{ctl::kCheckLf, 468, 70, 42, 10},
    ServicePlacement{ctl::kCheckBl, 514, 70, 42, 10},
    ServicePlacement{ctl::kCheckV2, 422, 82, 42, 10},
    ServicePlacement{ctl::kCheckV3, 468, 82, 42, 10},
    ServicePlacement{ctl::kCheckBtun, 514, 82, 42, 10},
    ServicePlacement{ctl::kCheckSi, 422, 94, 42, 10},
    ServicePlacement{ctl::kCheckBrr, 468, 94, 42, 10},
    ServicePlacement{ctl::kCheckUas, 514, 94, 42, 10},
    ServicePlacement{ctl::kCheckCf, 422, 106, 42, 10},
    ServicePlacement{ctl::kCheckCf2, 468, 106, 42, 10},
    ServicePlacement{ctl::kCheckFwv, 514, 106, 42, 10},
    ServicePlacement{ctl::kStart, 422, 123, 50, 13},
    ServicePlacement{ctl::kStop, 478, 123, 50, 13},
    ServicePlacement{ctl::kSelectUsbFirmware, 422, 157, 87, 13},
    ServicePlacement{ctl::kUpdateUsbFirmware, 422, 172, 65, 13},
    ServicePlacement{ctl::kCancelUpdate, 491, 172, 60, 13},
    ServicePlacement{ctl::kProtectSection, 422, 188, 106, 10},
};

}  // namespace

const ServicePanel& ServiceViewPanel() {
  static const ServicePanel panel{152, kFrames, kPlacements};
  return panel;
}

GrowRule GrowRuleOf(int id, bool inServicePanel) {
  if (inServicePanel || id == ctl::kClearLog) return GrowRule::MovesRight;
  return id == ctl::kLogList ? GrowRule::Grows : GrowRule::Stays;
}

PixelRect GrownPlace(const PixelRect& start, GrowRule rule, int extraWidth, int extraHeight) {
  extraWidth = std::max(extraWidth, 0);
  extraHeight = std::max(extraHeight, 0);
  switch (rule) {
    case GrowRule::Grows:
      return {start.x, start.y, start.width + extraWidth, start.height + extraHeight};
    case GrowRule::MovesRight:
      return {start.x + extraWidth, start.y, start.width, start.height};
    case GrowRule::Stays:
      break;
  }
  return start;
}

const ServicePlacement* FindServicePlacement(int id) {
  for (const auto& placement : kPlacements) {
    if (placement.id == id) return &placement;
  }
  return nullptr;
}

}  // namespace morlane
