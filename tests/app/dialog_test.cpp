// The dialog driven through the headless window, as a technician drives it.
#include "app/kestrum_dlg.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/headless_window.h"
#include "platform/inprocess_hid.h"
#include "support/memory_serial.h"
#include "support/virtual_clock.h"
#include "ui/control_ids.h"

namespace morlane {
namespace {

using ::testing::ElementsAre;

class DialogTest : public ::testing::Test {
 protected:
  DialogTest() {
    ports.Add(1, &com1);
    window.SetCommandHandler([this](int id) { dialog.OnCommand(id); });
    dialog.OnInitDialog();
  }

  void AttachUnitOnUsb() {
    hid.Add(std::make_shared<InProcessHidDevice>(HidDeviceInfo{"mem:usb", 0x590, 0x4b},
                                                 HidCaps{65, 65}, clock));
  }
  void OpenEntry(int index) {
    window.SetComboSelection(ctl::kInterfaceCombo, index);
    window.Click(ctl::kOpen);
  }

  test::VirtualClock clock;
  test::MemoryLine com1{clock};
  test::MemoryPortFactory ports;
  InProcessHidBackend hid;
  HeadlessWindow window;
  CKestrumDlg dialog{window, clock, ports, hid};
};

TEST_F(DialogTest, StartsWithOnlyTheSessionChoiceUsable) {
  for (int id : {ctl::kOpen, ctl::kInterfaceCombo, ctl::kClearLog, ctl::kLogList}) {
    EXPECT_TRUE(window.IsControlEnabled(id)) << id;
  }
  for (int id : {ctl::kSelectFirmware, ctl::kUpdateFirmware, ctl::kAutomatic, ctl::kModeAuto,
                 ctl::kModeManual, ctl::kClose, ctl::kSend, ctl::kStart, ctl::kStop}) {
    EXPECT_FALSE(window.IsControlEnabled(id)) << id;
  }
  EXPECT_EQ(window.GetCheck(ctl::kCheckQ1), 1);
  EXPECT_EQ(window.GetCheck(ctl::kPlusEnter), 1);
  for (int id :
       {ctl::kModeAuto, ctl::kModeManual, ctl::kProtectSection, ctl::kCheckV2, ctl::kCheckFwv}) {
    EXPECT_EQ(window.GetCheck(id), 0) << id;
  }
  EXPECT_FALSE(window.IsControlShown(ctl::kClose));
  EXPECT_TRUE(window.IsControlShown(ctl::kUpdateFirmware));
  EXPECT_EQ(window.GetComboText(ctl::kInterfaceCombo, 0), "COM1");
  EXPECT_EQ(window.GetComboText(ctl::kInterfaceCombo, 1), "USB");
  EXPECT_EQ(window.GetComboSelection(ctl::kInterfaceCombo), 0);
}

TEST_F(DialogTest, ModePairWithoutSession) {
  // "Auto" and "Manual" are usable once a session was opened and closed.
  window.EnableControl(ctl::kModeAuto, true);
  window.EnableControl(ctl::kModeManual, true);
  window.Click(ctl::kModeManual);
  EXPECT_EQ(window.GetCheck(ctl::kModeAuto), 0);
  EXPECT_EQ(window.GetCheck(ctl::kModeManual), 1);
  EXPECT_FALSE(window.IsControlEnabled(ctl::kSelectFirmware));
  window.Click(ctl::kModeAuto);
  EXPECT_EQ(window.GetCheck(ctl::kModeAuto), 1);
  EXPECT_EQ(window.GetCheck(ctl::kModeManual), 0);
  EXPECT_FALSE(window.IsControlEnabled(ctl::kSelectFirmware));
  EXPECT_TRUE(window.IsControlEnabled(ctl::kAutomatic));
}

TEST_F(DialogTest, ModePairDuringSerialAndHidSessions) {
  OpenEntry(0);
  ASSERT_EQ(dialog.session.sessionState, SessionState::Serial);
  EXPECT_EQ(window.GetCheck(ctl::kModeAuto), 1);
  EXPECT_TRUE(window.IsControlEnabled(ctl::kAutomatic));
  EXPECT_FALSE(window.IsControlEnabled(ctl::kSelectFirmware));
  window.Click(ctl::kModeManual);
  EXPECT_TRUE(window.IsControlEnabled(ctl::kSelectFirmware));
  EXPECT_FALSE(window.IsControlEnabled(ctl::kAutomatic));
  window.Click(ctl::kModeAuto);
  EXPECT_FALSE(window.IsControlEnabled(ctl::kSelectFirmware));
  EXPECT_TRUE(window.IsControlEnabled(ctl::kAutomatic));
}

TEST_F(DialogTest, ManualDuringHidSessionOnlyMovesTheMark) {
  AttachUnitOnUsb();
  OpenEntry(1);
  ASSERT_EQ(dialog.session.sessionState, SessionState::Hid);
  window.Click(ctl::kModeManual);
  EXPECT_EQ(window.GetCheck(ctl::kModeManual), 1);
  EXPECT_EQ(window.GetCheck(ctl::kModeAuto), 0);
  EXPECT_FALSE(window.IsControlEnabled(ctl::kSelectFirmware));
  EXPECT_TRUE(window.IsControlEnabled(ctl::kAutomatic));
}

TEST_F(DialogTest, SelectFirmwareFileDecidesTheCpuByTheWholePath) {
  OpenEntry(0);
  window.Click(ctl::kModeManual);
  // A path that names neither CPU, or both, is asked about; the answer decides.
  struct Case {
    const char* path;
    int cpu;
    const char* line;
    std::optional<CpuChoice> answer;
  } cases[] = {
      {"/images/master.bin", 0, "beginning burn master cpu ...\n", {}},
      {"/images/Master_v2.bin", 0, "beginning burn master cpu ...\n", {}},
      {"/images/slave.bin", 1, "beginning burn slave cpu....\n", {}},
      {"/images/MASTER.bin", 1, "beginning burn slave cpu....\n", CpuChoice::Slave},
      {"/Master builds/slave.bin", 0, "beginning burn master cpu ...\n", CpuChoice::Master},
      {"/Slave builds/master.bin", 1, "beginning burn slave cpu....\n", CpuChoice::Slave},
  };
  for (const Case& c : cases) {
    window.LogList().ResetContent();
    window.SetCpuAnswer(c.answer);
    const size_t asked = window.CpuQuestions().size();
    window.QueueFileDialogAnswer(std::string(c.path));
    ASSERT_TRUE(window.Click(ctl::kSelectFirmware));
    EXPECT_EQ(window.CpuQuestions().size(), asked + (c.answer ? 1 : 0)) << c.path;
    EXPECT_EQ(dialog.selection.firmwarePath, c.path);
    EXPECT_EQ(dialog.selection.cpuTarget, c.cpu) << c.path;
    EXPECT_THAT(window.LogLines(), ElementsAre("The MCU firmware file name is", c.path, c.line,
                                               "------------------------------------"));
    EXPECT_TRUE(window.IsControlEnabled(ctl::kUpdateFirmware));
  }
  const FileDialogRequest& asked = window.FileDialogs().back();
  EXPECT_EQ(asked.defaultExtension, "*.bin");
  EXPECT_EQ(asked.initialName, "*.bin");
  EXPECT_EQ(asked.filter, "FirmWare Files (*.bin)|*.bin|All Files (*.*)|*.*|");
  EXPECT_TRUE(asked.promptCreate);
}

TEST_F(DialogTest, CancelledCpuQuestionSelectsNothing) {
  OpenEntry(0);
  window.Click(ctl::kModeManual);
  const size_t lines = window.LogLines().size();
  window.QueueFileDialogAnswer(std::string("/images/fw_\xc3\x9f.bin"));
  ASSERT_TRUE(window.Click(ctl::kSelectFirmware));
  ASSERT_EQ(window.CpuQuestions().size(), 1u);
  EXPECT_EQ(window.CpuQuestions()[0],
            "The path of this firmware file names neither CPU (master, slave):\n"
            "/images/fw_\xc3\x9f.bin\n\nWhich CPU is it for?");
  EXPECT_EQ(dialog.selection.firmwarePath, "");
  EXPECT_EQ(window.LogLines().size(), lines);
  EXPECT_FALSE(window.IsControlEnabled(ctl::kUpdateFirmware));
}

TEST_F(DialogTest, CancelledFileDialogChangesNothing) {
  OpenEntry(0);
  window.Click(ctl::kModeManual);
  window.QueueFileDialogAnswer(std::string("/images/master.bin"));
  window.Click(ctl::kSelectFirmware);
  window.EnableControl(ctl::kUpdateFirmware, false);
  size_t lines = window.LogLines().size();
  window.QueueFileDialogAnswer(std::nullopt);
  window.Click(ctl::kSelectFirmware);
  EXPECT_EQ(dialog.selection.firmwarePath, "/images/master.bin");
  EXPECT_EQ(dialog.selection.cpuTarget, 0);
  EXPECT_EQ(window.LogLines().size(), lines);
  EXPECT_FALSE(window.IsControlEnabled(ctl::kUpdateFirmware));
}

TEST_F(DialogTest, ProtectSectionWarnsOncePerCheck) {
  window.Click(ctl::kProtectSection);
  window.Click(ctl::kProtectSection);
  window.Click(ctl::kProtectSection);
  EXPECT_THAT(window.MessageBoxes(),
              ElementsAre("BE CAREFUL! This function will damage the unit if your update "
                          "process has terminated",
                          "BE CAREFUL! This function will damage the unit if your update "
                          "process has terminated"));
}

TEST_F(DialogTest, EnterDoesNothingAndEscapeEndsWithTheCleanUp) {
  OpenEntry(0);
  ASSERT_TRUE(dialog.serial.IsOpen());
  size_t lines = window.LogLines().size();
  dialog.OnCommand(CKestrumDlg::kIdOk);
  EXPECT_EQ(window.LogLines().size(), lines);
  EXPECT_FALSE(dialog.Ended());
  bool closed = false;
  dialog.closeWindow = [&closed] { closed = true; };
  dialog.OnCommand(CKestrumDlg::kIdCancel);
  EXPECT_TRUE(dialog.Ended());
  EXPECT_TRUE(closed);
  EXPECT_FALSE(dialog.serial.IsOpen());
}

TEST_F(DialogTest, SystemCommandsShowAboutAndCloseTheLink) {
  AttachUnitOnUsb();
  OpenEntry(1);
  int abouts = 0;
  dialog.showAbout = [&abouts] { ++abouts; };
  dialog.OnSysCommand(0x0010);
  dialog.OnSysCommand(0x0013);  // low four bits are masked off
  EXPECT_EQ(abouts, 2);
  EXPECT_FALSE(dialog.Ended());
  dialog.OnSysCommand(CKestrumDlg::kSysClose);
  EXPECT_TRUE(dialog.Ended());
  EXPECT_EQ(dialog.hid.IsOpen(), 1);  // the found flag stays; the handles are gone
  dialog.EndDialog();                 // a second end is harmless
}

TEST_F(DialogTest, ClearLogEmptiesTheList) {
  OpenEntry(0);
  ASSERT_GT(window.LogList().GetCount(), 0);
  window.Click(ctl::kClearLog);
  EXPECT_EQ(window.LogList().GetCount(), 0);
  EXPECT_EQ(window.LogList().GetHorizontalExtent(), 0);
}

}  // namespace
}  // namespace morlane
