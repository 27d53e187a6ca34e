// Two dialogs in one process, each with a working directory of its own, prepare and send
// different MCU images at the same time on two threads: each unit gets its own dialog's
// tmp.bin, and nothing lands in the process's current directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <thread>

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

// One unit's USB side and the dialog that serves it.
struct Station {
  explicit Station(const test::TempDir& dir) : work(dir) {
    hid.Add(usb.Device());
    window.SetCommandHandler([this](int id) { dialog.OnCommand(id); });
    dialog.workingDir = work.Path();
    dialog.OnInitDialog();
    window.SetComboSelection(ctl::kInterfaceCombo, 1);
    window.Click(ctl::kOpen);
  }
  // Prepares the S-record file (given by its name in the working directory) and sends it.
  int PrepareAndUpdate(const std::string& s19Name) {
    window.QueueFileDialogAnswer(work.File(s19Name));
    dialog.OnCommand(ctl::kSelectUsbFirmware);
    if (dialog.lastResult != 1) return 0;
    dialog.OnCommand(ctl::kUpdateFirmware);
    return dialog.lastResult;
  }
  std::vector<uint8_t> Installed() {
    return dynamic_cast<sim::McuUpdaterRole&>(usb.McuUpdater()).Install().image;
  }

  const test::TempDir& work;
  test::VirtualClock clock;
  sim::SimUnit unit;
  sim::SimUsb usb{unit, clock};
  test::MemoryPortFactory ports;
  InProcessHidBackend hid;
  HeadlessWindow window;
  CKestrumDlg dialog{window, clock, ports, hid};
};

TEST(WorkingDirTest, TwoDialogsSideBySideKeepToTheirOwnFolders) {
  test::TempDir here, dirA, dirB;
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(here.Path());
  dirA.Write("a.S19", test::S19File(test::S19Image(test::Span(0xE600, 0xE700)), "\r\n"));
  dirB.Write("b.S19", test::S19File(test::S19Image(test::Span(0x4000, 0x4400)), "\r\n"));

  // Each dialog lives on its own thread, as its window belongs to the thread that made it.
  std::vector<uint8_t> installedA, installedB;
  int resultA = 0, resultB = 0;
  auto run = [](const test::TempDir& dir, const char* s19, int& result,
                std::vector<uint8_t>& installed) {
    Station station(dir);
    result = station.PrepareAndUpdate(s19);
    installed = station.Installed();
  };
  std::thread threadA(run, std::cref(dirA), "a.S19", std::ref(resultA), std::ref(installedA));
  std::thread threadB(run, std::cref(dirB), "b.S19", std::ref(resultB), std::ref(installedB));
  threadA.join();
  threadB.join();

  EXPECT_EQ(resultA, 1);
  EXPECT_EQ(resultB, 1);
  EXPECT_EQ(installedA, dirA.Read("tmp.bin"));
  EXPECT_EQ(installedB, dirB.Read("tmp.bin"));
  EXPECT_NE(dirA.Read("tmp.bin"), dirB.Read("tmp.bin"));
  EXPECT_TRUE(std::filesystem::exists(dirA.File("tmp.txt")));
  EXPECT_TRUE(std::filesystem::exists(dirB.File("tmp.txt")));
  EXPECT_TRUE(std::filesystem::is_empty(here.Path()));
  EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), here.Path()));
  std::filesystem::current_path(previous);
}

}  // namespace
}  // namespace morlane
