// "Open" and "Close" through the dialog as a technician presses them: every log line of
// each outcome, the session state and the controls.
#include "link/device_session.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/headless_window.h"
#include "app/kestrum_dlg.h"
#include "platform/inprocess_hid.h"
#include "support/memory_serial.h"
#include "support/virtual_clock.h"
#include "ui/control_ids.h"
#include "ui/log.h"

namespace morlane {
namespace {

using ::testing::ElementsAre;

const std::string kDash38Line(kDash38);
const std::string kDash36Line(kDash36);

class DeviceSessionTest : public ::testing::Test {
 protected:
  // The dialog is built per test, after the ports the test sets up.
  void Start() {
    dialog = std::make_unique<CKestrumDlg>(window, clock, ports, hid);
    window.SetCommandHandler([this](int id) { dialog->OnCommand(id); });
    dialog->OnInitDialog();
  }
  void AttachUnit() {
    unit = std::make_shared<InProcessHidDevice>(HidDeviceInfo{"mem:usb", 0x590, 0x4b},
                                                HidCaps{65, 65}, clock);
    hid.Add(unit);
  }
  void Open(int entry) {
    window.SetComboSelection(ctl::kInterfaceCombo, entry);
    window.Click(ctl::kOpen);
  }
  // "Close" is a hidden control; it is pressed the way the front ends press it.
  void Close() { dialog->OnCommand(ctl::kClose); }
  DeviceSession& Session() { return dialog->session; }

  test::VirtualClock clock;
  test::MemoryLine com1{clock};
  test::MemoryLine com2{clock};
  test::MemoryPortFactory ports;
  InProcessHidBackend hid;
  std::shared_ptr<InProcessHidDevice> unit;
  HeadlessWindow window;
  std::unique_ptr<CKestrumDlg> dialog;
};

TEST_F(DeviceSessionTest, InterfaceListNamesThePortFoundAtStart) {
  ports.Add(1, &com1);
  ports.Add(2, &com2);
  com1.SetBusy(true);
  Start();
  const auto& list = Session().interfaceList;
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].name, "COM2");
  EXPECT_EQ(list[0].kind, "COM");
  EXPECT_EQ(list[1].name, "USB");
  EXPECT_EQ(list[1].kind, "HID");
  for (const InterfaceEntry& entry : list) {
    EXPECT_EQ(entry.vendorId, 0x590);
    EXPECT_EQ(entry.productId, 0x4b);
    EXPECT_EQ(entry.vendorIdText, "0x590");
    EXPECT_EQ(entry.productIdText, "0x4b");
  }
  EXPECT_EQ(window.GetComboText(ctl::kInterfaceCombo, 0), "COM2");
  EXPECT_EQ(window.GetComboText(ctl::kInterfaceCombo, 1), "USB");
  EXPECT_EQ(window.GetComboSelection(ctl::kInterfaceCombo), 0);
  EXPECT_EQ(Session().sessionState, SessionState::None);
}

TEST_F(DeviceSessionTest, UsbOpenWithTheUnitAttached) {
  AttachUnit();
  Start();
  Open(1);
  EXPECT_THAT(window.LogLines(), ElementsAre("Find the HID Device OK!", kDash38Line,
                                             "Can not get Inverter's version info!!", kDash38Line,
                                             kDash38Line, kDash38Line));
  EXPECT_EQ(Session().sessionState, SessionState::Hid);
  EXPECT_EQ(dialog->hid.IsOpen(), 1);
  EXPECT_FALSE(window.IsControlEnabled(ctl::kOpen));
  EXPECT_FALSE(window.IsControlEnabled(ctl::kInterfaceCombo));
  EXPECT_TRUE(window.IsControlEnabled(ctl::kClose));

  Close();
  std::vector<std::string> lines = window.LogLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "Close HID MCU OK!");
  EXPECT_EQ(lines.back(), kDash36Line);
  EXPECT_EQ(Session().sessionState, SessionState::Hid);  // Close keeps the kind
  EXPECT_TRUE(window.IsControlEnabled(ctl::kOpen));
  EXPECT_EQ(dialog->hid.WriteCommand("Q1\r"), 0);  // the device is let go
}

TEST_F(DeviceSessionTest, UsbOpenWithoutTheUnit) {
  Start();
  Open(1);
  EXPECT_THAT(window.LogLines(), ElementsAre("Can not find the HID Device!", kDash38Line));
  EXPECT_EQ(Session().sessionState, SessionState::None);
  EXPECT_TRUE(window.IsControlEnabled(ctl::kOpen));
  EXPECT_TRUE(window.IsControlEnabled(ctl::kInterfaceCombo));
  EXPECT_FALSE(window.IsControlEnabled(ctl::kClose));
}

TEST_F(DeviceSessionTest, ComOpenUsesThePortFreeNowAndSetsNineSixHundred) {
  ports.Add(1, &com1);
  ports.Add(2, &com2);
  Start();
  EXPECT_EQ(window.GetComboText(ctl::kInterfaceCombo, 0), "COM1");
  com1.SetBusy(true);  // taken by another program since start
  Open(0);
  EXPECT_THAT(
      window.LogLines(),
      ElementsAre("Com2 is opened,please insert com1 cable to inverter and", "pc.", kDash38Line));
  EXPECT_EQ(Session().sessionState, SessionState::Serial);
  EXPECT_EQ(Session().comPortNumber, 2);
  EXPECT_TRUE(dialog->serial.IsOpen());
  EXPECT_EQ(com2.Baud(), 9600);
  EXPECT_FALSE(window.IsControlEnabled(ctl::kOpen));
  EXPECT_TRUE(window.IsControlEnabled(ctl::kModeAuto));

  Close();
  std::vector<std::string> lines = window.LogLines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[3], "Close Serial MCU OK!");
  EXPECT_EQ(lines[4], kDash36Line);
  EXPECT_FALSE(dialog->serial.IsOpen());
  EXPECT_EQ(Session().sessionState, SessionState::Serial);
  EXPECT_EQ(Session().comPortNumber, 2);
}

TEST_F(DeviceSessionTest, ComOpenWithoutAnyPortNamesComZero) {
  Start();
  EXPECT_EQ(window.GetComboText(ctl::kInterfaceCombo, 0), "COM0");
  Open(0);
  EXPECT_THAT(
      window.LogLines(),
      ElementsAre("Can Not Open Com0,Please Modify The INI File to Change Com Port", kDash38Line));
  EXPECT_EQ(Session().sessionState, SessionState::None);
  EXPECT_EQ(Session().comPortNumber, 0);
  EXPECT_TRUE(window.IsControlEnabled(ctl::kOpen));
}

TEST_F(DeviceSessionTest, ComOpenOnAPortThatCannotBeSetUpNamesIt) {
  ports.Add(1, &com1);
  com1.Fail();  // opens, refuses its line settings
  Start();
  Open(0);
  EXPECT_THAT(
      window.LogLines(),
      ElementsAre("Can Not Open Com1,Please Modify The INI File to Change Com Port", kDash38Line));
  EXPECT_EQ(Session().sessionState, SessionState::None);
  EXPECT_EQ(Session().comPortNumber, 1);
  EXPECT_FALSE(dialog->serial.IsOpen());
}

TEST_F(DeviceSessionTest, FailedOpenAfterASessionResetsTheKind) {
  AttachUnit();
  Start();
  Open(1);
  Close();
  hid.RemoveAll();
  Open(1);
  EXPECT_EQ(Session().sessionState, SessionState::None);
  // Close with no session still returns the controls to the closed arrangement.
  window.LogList().ResetContent();
  window.EnableControl(ctl::kOpen, false);
  Close();
  EXPECT_THAT(window.LogLines(), ElementsAre("Please open device first!", kDash36Line));
  EXPECT_TRUE(window.IsControlEnabled(ctl::kOpen));
  EXPECT_FALSE(window.IsControlEnabled(ctl::kClose));
}

}  // namespace
}  // namespace morlane
