#include "ui/session_controls.h"

#include <gtest/gtest.h>

#include "app/headless_window.h"
#include "ui/control_ids.h"
#include "ui/dialog_values.h"

namespace morlane {
namespace {

TEST(SessionControls, OpenAndClosedArrangements) {
  HeadlessWindow window;
  window.EnableControl(ctl::kSelectFirmware, true);
  SetSessionControls(window, 1);
  for (int id : {ctl::kClose, ctl::kSend, ctl::kStart, ctl::kSelectUsbFirmware, ctl::kAutomatic,
                 ctl::kModeAuto, ctl::kModeManual}) {
    EXPECT_TRUE(window.IsControlEnabled(id)) << id;
  }
  EXPECT_FALSE(window.IsControlEnabled(ctl::kOpen));
  EXPECT_FALSE(window.IsControlEnabled(ctl::kInterfaceCombo));
  EXPECT_TRUE(window.IsControlEnabled(ctl::kSelectFirmware));  // left as it was
  EXPECT_EQ(window.GetCheck(ctl::kModeAuto), 1);

  SetSessionControls(window, 0);
  for (int id : {ctl::kClose, ctl::kSend, ctl::kStart, ctl::kSelectUsbFirmware, ctl::kAutomatic,
                 ctl::kSelectFirmware, ctl::kUpdateFirmware, ctl::kUpdateUsbFirmware}) {
    EXPECT_FALSE(window.IsControlEnabled(id)) << id;
  }
  EXPECT_TRUE(window.IsControlEnabled(ctl::kOpen));
  // "Auto" and "Manual" stay usable after a close.
  EXPECT_TRUE(window.IsControlEnabled(ctl::kModeAuto));
  EXPECT_TRUE(window.IsControlEnabled(ctl::kModeManual));
}

TEST(DialogValues, ExchangeInBothDirectionsAndCutTheCommandText) {
  HeadlessWindow window;
  DialogValues values;
  values.LoadIntoControls(window);
  EXPECT_EQ(window.GetCheck(ctl::kCheckQ1), 1);
  EXPECT_EQ(window.GetCheck(ctl::kPlusEnter), 1);
  EXPECT_EQ(window.GetCheck(ctl::kCheckV2), 0);

  window.SetCheck(ctl::kCheckV2, 1);
  window.SetCheck(ctl::kCheckQ1, 0);
  window.TypeText(ctl::kCommandEdit, std::string(40, 'x'));
  values.SaveFromControls(window);
  EXPECT_EQ(values.v2, 1);
  EXPECT_EQ(values.q1, 0);
  EXPECT_EQ(values.commandText.size(), DialogValues::kCommandTextLimit);
}

}  // namespace
}  // namespace morlane
