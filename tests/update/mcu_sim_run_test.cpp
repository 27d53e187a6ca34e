// Preparation and MCU update against the simulated unit's USB side, in one process on a
// virtual clock: the tool and the unit are written apart, so they agree only if the
// wire does.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "app/headless_window.h"
#include "app/kestrum_dlg.h"
#include "image/s19_text.h"
#include "sim/mcu_updater_role.h"
#include "sim/sim_unit.h"
#include "sim/sim_usb.h"
#include "support/memory_serial.h"
#include "support/process.h"
#include "support/virtual_clock.h"
#include "ui/control_ids.h"

namespace morlane {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class McuSimRunTest : public ::testing::Test {
 protected:
  McuSimRunTest() : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(work.Path());
    hid.Add(usb.Device());
    window.SetCommandHandler([this](int id) { dialog.OnCommand(id); });
    dialog.OnInitDialog();
    window.SetComboSelection(ctl::kInterfaceCombo, 1);
    window.Click(ctl::kOpen);
  }
  ~McuSimRunTest() override { std::filesystem::current_path(previous_); }

  int Prepare(const std::vector<std::string>& lines) {
    work.Write("image.S19", test::S19File(lines, "\r\n"));
    window.QueueFileDialogAnswer(work.File("image.S19"));
    dialog.OnCommand(ctl::kSelectUsbFirmware);
    return dialog.lastResult;
  }
  int Update() {
    dialog.OnCommand(ctl::kUpdateFirmware);
    return dialog.lastResult;
  }
  sim::McuInstall Installed() {
    return dynamic_cast<sim::McuUpdaterRole&>(usb.McuUpdater()).Install();
  }

  test::TempDir work;
  test::VirtualClock clock;
  sim::SimUnit unit;
  sim::SimUsb usb{unit, clock};
  test::MemoryPortFactory ports;
  InProcessHidBackend hid;
  HeadlessWindow window;
  CKestrumDlg dialog{window, clock, ports, hid};

 private:
  std::filesystem::path previous_;
};

TEST_F(McuSimRunTest, UnitReceivesTmpBinByteForByte) {
  // 0xE600 image: 9 rows of 36 bytes, a length that ends in a short block.
  ASSERT_EQ(Prepare(test::S19Image(test::Span(0xE600, 0xE700))), 1);
  ASSERT_EQ(Update(), 1);
  sim::McuInstall install = Installed();
  EXPECT_TRUE(install.installed);
  EXPECT_EQ(install.cpu, 'M');
  EXPECT_EQ(install.announcedSize, 324u);
  EXPECT_EQ(install.dataReports, 6);
  EXPECT_EQ(install.image, work.Read("tmp.bin"));
  EXPECT_EQ(window.LogLines()[window.LogLines().size() - 2], "Install successful");
  EXPECT_THAT(window.MessageBoxes(), IsEmpty());

  // A larger image with gaps, to the slave CPU.
  std::vector<uint16_t> addresses = test::Span(0x4000, 0x4800);
  addresses.erase(addresses.begin() + 10, addresses.begin() + 13);
  ASSERT_EQ(Prepare(test::S19Image(addresses)), 1);
  dialog.selection.cpuTarget = 1;
  ASSERT_EQ(Update(), 1);
  install = Installed();
  EXPECT_EQ(install.cpu, 'S');
  EXPECT_EQ(install.image, work.Read("tmp.bin"));
  // Rows at 0x40A0 and 0x40C0 are gone; 0x40D0 starts a row of its own.
  EXPECT_EQ(install.image.size(), 63u * 36u);
}

TEST_F(McuSimRunTest, UnitFaultsEndTheUpdate) {
  ASSERT_EQ(Prepare(test::S19Image(test::Span(0xE600, 0xE700))), 1);

  unit.Faults().mcuErrorAfterBlocks = 2;
  EXPECT_EQ(Update(), 0);
  EXPECT_EQ(Installed().dataReports, 2);
  EXPECT_THAT(window.MessageBoxes(), ElementsAre("Receive Error !"));
  unit.Faults().mcuErrorAfterBlocks = -1;

  unit.Faults().mcuSizeAnsweredWith07 = true;
  EXPECT_EQ(Update(), 0);
  EXPECT_EQ(Installed().dataReports, 0);
  EXPECT_FALSE(Installed().installed);
  unit.Faults().mcuSizeAnsweredWith07 = false;

  // Replies with the top bit set, or none: the table is never accepted.
  for (std::atomic<bool>* fault : {&unit.Faults().mcuTopBitReplies, &unit.Faults().mcuSilent}) {
    *fault = true;
    EXPECT_EQ(Update(), 0);
    EXPECT_EQ(Installed().announcedSize, 0u);
    *fault = false;
  }
  EXPECT_THAT(window.MessageBoxes(), ElementsAre("Receive Error !"));

  // The unit is fine again: the next update goes through.
  EXPECT_EQ(Update(), 1);
}

}  // namespace
}  // namespace morlane
