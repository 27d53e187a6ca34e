// The service view's panel: it must show every hidden console and USB control once, inside
// the room the window gains, without two controls on top of each other.
#include <gtest/gtest.h>

#include <set>

#include "ui/control_ids.h"
#include "ui/control_table.h"
#include "ui/service_panel.h"

namespace morlane {
namespace {

struct Box {
  int x, y, width, height;
};

bool Overlap(const Box& a, const Box& b) {
  return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

bool Inside(const Box& inner, const Box& outer) {
  return inner.x >= outer.x && inner.y >= outer.y &&
         inner.x + inner.width <= outer.x + outer.width &&
         inner.y + inner.height <= outer.y + outer.height;
}

TEST(ServicePanel, PlacesEachHiddenServiceControlOnceWithinTheAddedRoom) {
  const DialogTemplate& dialog = MainDialogTemplate();
  const ServicePanel& panel = ServiceViewPanel();
  const Box room{dialog.width, 0, panel.width, dialog.height};
  const std::set<int> wanted{ctl::kCommandEdit,
                             ctl::kPlusEnter,
                             ctl::kSend,
                             ctl::kClose,
                             ctl::kStart,
                             ctl::kStop,
                             ctl::kCheckQ1,
                             ctl::kCheckLf,
                             ctl::kCheckBl,
                             ctl::kCheckV2,
                             ctl::kCheckV3,
                             ctl::kCheckBtun,
                             ctl::kCheckSi,
                             ctl::kCheckBrr,
                             ctl::kCheckUas,
                             ctl::kCheckCf,
                             ctl::kCheckCf2,
                             ctl::kCheckFwv,
                             ctl::kSelectUsbFirmware,
                             ctl::kUpdateUsbFirmware,
                             ctl::kCancelUpdate,
                             ctl::kProtectSection};
  std::set<int> placed;
  for (const ServicePlacement& p : panel.placements) {
    SCOPED_TRACE(p.id);
    EXPECT_TRUE(placed.insert(p.id).second) << "placed twice";
    const ControlSpec* spec = FindControl(p.id);
    ASSERT_NE(spec, nullptr);
    EXPECT_FALSE(spec->shown) << "a control the template shows would leave its place";
    const Box box{p.x, p.y, p.width, p.height};
    EXPECT_TRUE(Inside(box, room));
    int frames = 0;
    for (const ControlSpec& frame : panel.frames) {
      if (Inside(box, {frame.x, frame.y + 8, frame.width, frame.height - 8})) ++frames;
    }
    EXPECT_EQ(frames, 1) << "each control sits below the caption of one frame";
    for (const ServicePlacement& q : panel.placements) {
      if (q.id != p.id) {
        EXPECT_FALSE(Overlap(box, {q.x, q.y, q.width, q.height})) << q.id;
      }
    }
  }
  EXPECT_EQ(placed, wanted);
  for (const ControlSpec& frame : panel.frames) {
    EXPECT_TRUE(Inside({frame.x, frame.y, frame.width, frame.height}, room)) << frame.caption;
    EXPECT_FALSE(frame.shown);
  }
}

}  // namespace
}  // namespace morlane
