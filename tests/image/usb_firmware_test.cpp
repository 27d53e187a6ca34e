// "Select Firmware File" of the USB group, driven through the dialog as a technician does.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "app/headless_window.h"
#include "app/kestrum_dlg.h"
#include "image/s19_text.h"
#include "platform/inprocess_hid.h"
#include "support/memory_serial.h"
#include "support/process.h"
#include "support/virtual_clock.h"
#include "ui/control_ids.h"

namespace morlane {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class UsbFirmwareTest : public ::testing::Test {
 protected:
  UsbFirmwareTest() : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(work.Path());
    ports.Add(1, &com1);
    hid.Add(std::make_shared<InProcessHidDevice>(HidDeviceInfo{"mem:usb", 0x590, 0x4b},
                                                 HidCaps{65, 69}, clock));
    window.SetCommandHandler([this](int id) { dialog.OnCommand(id); });
    dialog.OnInitDialog();
    source.Write("image.S19", test::S19File(test::S19Image(test::Span(0xE600, 0xE700)), "\r\n"));
  }
  ~UsbFirmwareTest() override { std::filesystem::current_path(previous_); }

  void OpenEntry(int index) {
    window.SetComboSelection(ctl::kInterfaceCombo, index);
    window.Click(ctl::kOpen);
  }
  // The control is hidden, so it is pressed through the handler.
  int Select(std::optional<std::string> answer) {
    window.QueueFileDialogAnswer(std::move(answer));
    size_t before = window.LogLines().size();
    dialog.OnCommand(ctl::kSelectUsbFirmware);
    std::vector<std::string> lines = window.LogLines();
    logged.assign(lines.begin() + static_cast<std::ptrdiff_t>(before), lines.end());
    return dialog.lastResult;
  }
  bool Exists(const std::string& name) const { return std::filesystem::exists(work.File(name)); }

  test::TempDir work;
  test::TempDir source;
  test::VirtualClock clock;
  test::MemoryLine com1{clock};
  test::MemoryPortFactory ports;
  InProcessHidBackend hid;
  HeadlessWindow window;
  CKestrumDlg dialog{window, clock, ports, hid};
  std::vector<std::string> logged;

 private:
  std::filesystem::path previous_;
};

TEST_F(UsbFirmwareTest, UsbSessionWrites32ByteRowsWithoutTheHeader) {
  OpenEntry(1);
  ASSERT_EQ(Select(source.File("image.S19")), 1);
  EXPECT_THAT(logged,
              ElementsAre("------------------------------------", "The USB firmware file name is",
                          source.File("image.S19"), "Build S19 block list OK",
                          "Build Raw block list OK", "Write to tmp.txt file OK",
                          "Write to tmp.bin file OK", "------------------------------------"));
  EXPECT_TRUE(window.IsControlEnabled(ctl::kUpdateUsbFirmware));
  EXPECT_EQ(work.Read("tmp.bin").size(), 324u);
  EXPECT_EQ(dialog.usbFirmware.image.rowSize, 32);
  EXPECT_TRUE(dialog.usbFirmware.image.skipFirst);

  // The update button of the group does nothing at all.
  size_t lines = window.LogLines().size();
  EXPECT_TRUE(window.Click(ctl::kUpdateUsbFirmware));
  EXPECT_EQ(window.LogLines().size(), lines);
  EXPECT_TRUE(window.MessageBoxes().empty());
}

TEST_F(UsbFirmwareTest, WithoutALinkTheFilesAreStillWrittenWithTheSettingsInForce) {
  ASSERT_EQ(Select(source.File("image.S19")), 0);
  EXPECT_THAT(
      logged,
      ElementsAre("------------------------------------", "The USB firmware file name is",
                  source.File("image.S19"), "Please open device first!", "Build S19 block list OK",
                  "Build Raw block list OK", "Write to tmp.txt file OK", "Write to tmp.bin file OK",
                  "------------------------------------"));
  EXPECT_EQ(dialog.usbFirmware.filesWritten, 1);
  EXPECT_FALSE(window.IsControlEnabled(ctl::kUpdateUsbFirmware));
  std::vector<uint8_t> txt = work.Read("tmp.txt");
  EXPECT_EQ(std::string(txt.begin(), txt.begin() + 11), "14-0000-10-");

  // A HID entry whose device went away also counts as no link, and the settings of the
  // last build stay.
  OpenEntry(1);
  ASSERT_EQ(Select(source.File("image.S19")), 1);
  dialog.hid.Close();
  hid.RemoveAll();
  dialog.hid.OpenDevice(0x590, 0x4b);
  ASSERT_EQ(Select(source.File("image.S19")), 0);
  EXPECT_EQ(logged[3], "Please open device first!");
  EXPECT_EQ(work.Read("tmp.bin").size(), 324u);
}

TEST_F(UsbFirmwareTest, SerialSessionTakesOnlyBxAndBzUnits) {
  OpenEntry(0);
  ASSERT_EQ(dialog.session.sessionState, SessionState::Serial);
  ASSERT_EQ(Select(source.File("image.S19")), 0);
  EXPECT_THAT(logged,
              ElementsAre("------------------------------------", "The USB firmware file name is",
                          source.File("image.S19"), "Unsupport This Type MCU!",
                          "------------------------------------"));
  EXPECT_FALSE(Exists("tmp.bin"));
  EXPECT_FALSE(Exists("tmp.txt"));

  dialog.session.interfaceList[0].name = "BZ COM1";
  ASSERT_EQ(Select(source.File("image.S19")), 1);
  std::vector<uint8_t> bin = work.Read("tmp.bin");
  // 128-byte rows with the header kept: the header row, the fixed record, two rows.
  ASSERT_EQ(bin.size(), 4u * 132u);
  EXPECT_EQ(bin[0], 0x84);
  EXPECT_TRUE(window.IsControlEnabled(ctl::kUpdateUsbFirmware));
}

TEST_F(UsbFirmwareTest, FailedStepLeavesThePreviousFilesAndDisablesTheUpdate) {
  OpenEntry(1);
  ASSERT_EQ(Select(source.File("image.S19")), 1);
  std::vector<uint8_t> before = work.Read("tmp.bin");

  source.Write("header.S19", test::S19File({test::S19Header(), test::S19End()}, "\n"));
  ASSERT_EQ(Select(source.File("header.S19")), 0);
  EXPECT_THAT(logged,
              ElementsAre("------------------------------------", "The USB firmware file name is",
                          source.File("header.S19"), "Build S19 block list OK",
                          "Image refused: no data record before the last S19 record",
                          "Build Raw block list error", "------------------------------------"));
  EXPECT_FALSE(window.IsControlEnabled(ctl::kUpdateUsbFirmware));
  EXPECT_EQ(work.Read("tmp.bin"), before);

  source.Write("bad.S19", "S1130000\n\n");
  ASSERT_EQ(Select(source.File("bad.S19")), 0);
  EXPECT_EQ(logged[3], "Build S19 block list error");
  ASSERT_EQ(Select(source.File("none.S19")), 0);
  EXPECT_THAT(window.MessageBoxes(), ElementsAre("Read File Error !"));

  std::filesystem::remove(work.File("tmp.bin"));
  std::filesystem::create_directory(work.File("tmp.bin"));
  ASSERT_EQ(Select(source.File("image.S19")), 0);
  EXPECT_EQ(logged[logged.size() - 2], "Write to tmp.bin file error");
  EXPECT_EQ(window.MessageBoxes().back(), "BIN File Write Error !");
}

TEST_F(UsbFirmwareTest, CancelledDialogLogsOnlyTheFirstDashes) {
  OpenEntry(1);
  EXPECT_EQ(Select(std::nullopt), 0);
  EXPECT_THAT(logged, ElementsAre("------------------------------------"));
  EXPECT_FALSE(Exists("tmp.bin"));
  ASSERT_EQ(window.FileDialogs().size(), 1u);
  EXPECT_EQ(window.FileDialogs()[0].filter, "FirmWare Files (*.S19)|*.S19|All Files (*.*)|*.*|");
  EXPECT_EQ(window.FileDialogs()[0].initialName, "*.S19");
  EXPECT_TRUE(window.FileDialogs()[0].promptCreate);
}

TEST_F(UsbFirmwareTest, FilesGoToTheWorkingDirectoryEvenWhenTheFileDialogMovesAway) {
  dialog.workingDir = work.Path();
  OpenEntry(1);
  window.SetFileDialogHandler([this](const FileDialogRequest&) -> std::optional<std::string> {
    std::filesystem::current_path(source.Path());
    return source.File("image.S19");
  });
  dialog.OnCommand(ctl::kSelectUsbFirmware);
  std::filesystem::current_path(work.Path());
  EXPECT_EQ(dialog.lastResult, 1);
  EXPECT_TRUE(Exists("tmp.bin"));
  EXPECT_FALSE(std::filesystem::exists(source.File("tmp.bin")));
  EXPECT_THAT(window.MessageBoxes(), IsEmpty());
}

}  // namespace
}  // namespace morlane
