// "Update Firmware" on a serial session: the checks before anything is sent, the buttons
// around the run, and the run itself against the simulated unit.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/headless_window.h"
#include "app/kestrum_dlg.h"
#include "flash/sim_line.h"
#include "flash/test_image_maker.h"
#include "platform/inprocess_hid.h"
#include "support/process.h"
#include "support/virtual_clock.h"
#include "ui/control_ids.h"

namespace morlane {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class UpdateSerialTest : public ::testing::Test {
 protected:
  UpdateSerialTest() {
    test::ConnectToUnit(line, unit);
    window.SetCommandHandler([this](int id) { dialog.OnCommand(id); });
    dialog.OnInitDialog();
  }

  void OpenAndChoose(const std::string& path) {
    window.Click(ctl::kOpen);
    window.Click(ctl::kModeManual);
    window.QueueFileDialogAnswer(path);
    window.Click(ctl::kSelectFirmware);
  }

  test::VirtualClock clock;
  test::MemoryLine line{clock};
  test::FreshPorts ports{line};
  InProcessHidBackend hid;
  HeadlessWindow window;
  CKestrumDlg dialog{window, clock, ports, hid};
  sim::SimUnit unit;
  test::TempDir dir;
};

TEST_F(UpdateSerialTest, WithoutASessionNothingIsSent) {
  dialog.OnCommand(ctl::kUpdateFirmware);
  EXPECT_THAT(window.LogLines(), ElementsAre("Please open device first!"));
  EXPECT_EQ(dialog.lastResult, 0);
  EXPECT_THAT(line.Writes(), IsEmpty());
}

TEST_F(UpdateSerialTest, FileThatIsNoInverterImageChangesNothing) {
  dir.Write("master.bin", std::string("MZ not an image"));
  OpenAndChoose(dir.File("master.bin"));
  std::vector<std::string> before = window.LogLines();
  window.Click(ctl::kUpdateFirmware);
  EXPECT_EQ(window.LogLines(), before);
  EXPECT_EQ(dialog.lastResult, 0);
  EXPECT_TRUE(window.IsControlEnabled(ctl::kUpdateFirmware));
  EXPECT_TRUE(window.IsControlEnabled(ctl::kSelectFirmware));
  EXPECT_THAT(line.Writes(), IsEmpty());
  EXPECT_TRUE(dialog.serial.IsOpen());
}

TEST_F(UpdateSerialTest, RunLoadsTheImageAndEndsWithThePortClosed) {
  std::vector<uint8_t> bytes = test::MakeInverterImage({{0x100, test::Words(10)}});
  dir.Write("unit_slave.bin", bytes);
  OpenAndChoose(dir.File("unit_slave.bin"));
  EXPECT_EQ(dialog.selection.cpuTarget, 1);
  window.Click(ctl::kUpdateFirmware);
  EXPECT_EQ(dialog.lastResult, 1);
  EXPECT_EQ(dialog.image.imageLength, static_cast<int>(bytes.size()));
  EXPECT_EQ(dialog.image.loadedBytes(), bytes.size());  // left in the buffer
  EXPECT_FALSE(dialog.serial.IsOpen());
  EXPECT_EQ(dialog.session.sessionState, SessionState::Serial);
  EXPECT_FALSE(window.IsControlEnabled(ctl::kUpdateFirmware));
  EXPECT_TRUE(window.IsControlEnabled(ctl::kSelectFirmware));
  EXPECT_EQ(window.GetProgressPos(ctl::kProgressBar), 0);
  EXPECT_EQ(window.LogLines().back(), "------------------------------------");
  EXPECT_EQ(unit.Flash('S').words[0x100], test::Words(10)[0]);
}

TEST_F(UpdateSerialTest, CpuTargetOutsideMasterAndSlaveSelectsNoCpu) {
  dir.Write("master.bin", test::MakeInverterImage({{0x100, test::Words(10)}}));
  OpenAndChoose(dir.File("master.bin"));
  dialog.selection.cpuTarget = 2;
  window.Click(ctl::kUpdateFirmware);
  EXPECT_EQ(dialog.lastResult, 0);
  // No selection was sent, so no bootloader listens for the handshake.
  for (const auto& received : unit.ReceivedBytes()) EXPECT_NE(received.baud, 9600);
  std::vector<std::string> lines = window.LogLines();
  EXPECT_EQ(lines[lines.size() - 2], "the communicaton with inverter is fail,please check it!");
}

}  // namespace
}  // namespace morlane
