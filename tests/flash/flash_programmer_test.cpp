// Erase, burn, verify and closing of one CPU against a scripted bootloader.
#include "flash/flash_programmer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/headless_window.h"
#include "app/kestrum_dlg.h"
#include "flash/scripted_unit.h"
#include "flash/test_image_maker.h"
#include "platform/inprocess_hid.h"
#include "support/memory_serial.h"
#include "support/process.h"
#include "support/virtual_clock.h"
#include "ui/control_ids.h"

namespace morlane {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Command = test::ScriptedUnit::Command;

std::vector<uint8_t> BytesOf(const std::vector<uint16_t>& words) {
  std::vector<uint8_t> bytes;
  for (uint16_t w : words) {
    bytes.push_back(static_cast<uint8_t>(w >> 8));
    bytes.push_back(static_cast<uint8_t>(w));
  }
  return bytes;
}

class ProgrammerTest : public ::testing::Test {
 protected:
  ProgrammerTest() {
    ports.Add(1, &line);
    window.SetCommandHandler([this](int id) { dialog.OnCommand(id); });
    window.SetProgressHandler([this](int id, int position) {
      if (id == ctl::kProgressBar) positions.push_back(position);
    });
    dialog.OnInitDialog();
    window.Click(ctl::kOpen);
    dialog.serial.Close();
    dialog.serial.Open(1, 19200);
    window.LogList().ResetContent();
    line.ClearWrites();
  }

  std::string Image(const std::vector<test::ImageSection>& sections) {
    dir.Write("image.bin", test::MakeInverterImage(sections));
    return dir.File("image.bin");
  }

  FlashProgrammer& programmer() { return dialog.flasher.Programmer(); }

  test::VirtualClock clock;
  test::MemoryLine line{clock};
  test::MemoryPortFactory ports;
  InProcessHidBackend hid;
  HeadlessWindow window;
  CKestrumDlg dialog{window, clock, ports, hid};
  test::ScriptedUnit unit{line};
  test::TempDir dir;
  std::vector<int> positions;
};

TEST_F(ProgrammerTest, SectionsAreCutIntoBlocksOf114WordsAtAdvancingAddresses) {
  std::vector<uint16_t> long_words = test::Words(300, 0x1000);
  std::string path = Image({{100, long_words},
                            {0x2000, test::Words(114, 0x2000)},
                            {0x3000, test::Words(115, 0x3000)},
                            {0x4000, {}}});
  dialog.image.imageLength = 224 * 100;  // one per cent per program call
  EXPECT_EQ(programmer().FlashBurn(path), 1);

  auto blocks = unit.Of(kProgramCode);
  ASSERT_EQ(blocks.size(), 6u);
  std::vector<std::pair<uint32_t, uint16_t>> shape;
  for (const Command& c : blocks) shape.emplace_back(c.address, c.count);
  EXPECT_THAT(shape, ElementsAre(std::pair<uint32_t, uint16_t>{100, 114}, std::pair{214u, 114},
                                 std::pair{328u, 72}, std::pair{0x2000u, 114},
                                 std::pair{0x3000u, 114}, std::pair{0x3000u + 114, 1}));
  std::vector<uint8_t> sent;
  for (int i = 0; i < 3; ++i) sent.insert(sent.end(), blocks[i].data.begin(), blocks[i].data.end());
  EXPECT_EQ(sent, BytesOf(long_words));
  EXPECT_EQ(blocks[5].data, BytesOf({test::Words(115, 0x3000)[114]}));
  for (const Command& c : blocks) EXPECT_EQ(c.word4, 0);

  // 224 for every call, the ones that send nothing (a rest of 0, an empty section) too.
  EXPECT_THAT(positions, ElementsAre(1, 2, 3, 4, 5, 6, 7, 8));
  EXPECT_EQ(window.GetControlText(ctl::kPercentText), "");
  EXPECT_EQ(dialog.image.progressCount, 0);
  EXPECT_THAT(window.LogLines(),
              ElementsAre("Flash burning in...\n", "Flash update firmware Successful!\n",
                          "            \n"));
}

TEST_F(ProgrammerTest, UnacknowledgedBlockStopsTheBurnAndABadStatusDoesNot) {
  std::string path = Image({{0, test::Words(300)}});
  dialog.image.imageLength = 1000;
  unit.statusFor[kProgramCode] = 0x0002;
  EXPECT_EQ(programmer().FlashBurn(path), 1);
  EXPECT_EQ(unit.Of(kProgramCode).size(), 3u);

  window.LogList().ResetContent();
  unit.commands.clear();
  int calls = 0;
  unit.silentFor.clear();
  unit.judge = [&calls, this](const Command& c) {
    if (c.code == kProgramCode && ++calls == 2) unit.silentFor[kProgramCode] = true;
    return uint16_t{0};
  };
  EXPECT_EQ(programmer().FlashBurn(path), 0);
  EXPECT_EQ(unit.Of(kProgramCode).size(), 3u);  // the third is sent and goes unanswered
  EXPECT_EQ(programmer().blockAcknowledged, 0);
  EXPECT_THAT(window.LogLines(), ElementsAre("Flash burning in...\n", "Bruned failure\n"));
  EXPECT_EQ(window.GetControlText(ctl::kPercentText), "44 %");  // left as it was
}

TEST_F(ProgrammerTest, BurnWithoutSectionsSendsNothing) {
  dir.Write("empty.bin", std::vector<uint8_t>{0x08, 0xAA, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                              0,    0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(programmer().FlashBurn(dir.File("empty.bin")), 0);
  EXPECT_EQ(programmer().FlashVerify(dir.File("empty.bin")), 0);
  EXPECT_EQ(programmer().FlashBurn(dir.File("missing.bin")), 0);
  EXPECT_THAT(line.Writes(), IsEmpty());
  EXPECT_THAT(window.LogLines(), IsEmpty());
}

TEST_F(ProgrammerTest, WriteBlockDropsAnOddByteAndSendsNothingForNoWords) {
  const uint8_t data[5] = {0x12, 0x34, 0x56, 0x78, 0x9A};
  EXPECT_EQ(programmer().WriteBlock(0x10, 5, data), 1);
  ASSERT_EQ(unit.commands.size(), 1u);
  EXPECT_EQ(unit.commands[0].count, 2);
  EXPECT_EQ(unit.commands[0].data, (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78}));
  EXPECT_EQ(programmer().WriteBlock(0x10, 1, data), 0);
  EXPECT_EQ(programmer().WriteBlock(0x10, 4, nullptr), 0);
  EXPECT_EQ(programmer().blockAcknowledged, 1);
  EXPECT_EQ(unit.commands.size(), 1u);
}

TEST_F(ProgrammerTest, VerifyCarriesTheWordSumOfEachSection) {
  const uint8_t words[] = {0x12, 0x34, 0xF0, 0x0F};
  EXPECT_EQ(VerifyChecksum(words, 4), 0x0243);
  EXPECT_EQ(programmer().VerifyBlock(0x40, 4, words), 1);
  ASSERT_EQ(unit.commands.size(), 1u);
  EXPECT_EQ(unit.commands[0].code, kVerifyCode);
  EXPECT_EQ(unit.commands[0].address, 0x40u);
  EXPECT_EQ(unit.commands[0].count, 2);
  EXPECT_EQ(unit.commands[0].word4, 0x0243);
  EXPECT_TRUE(unit.commands[0].data.empty());
}

TEST_F(ProgrammerTest, OneFailedSectionFailsTheVerifyButItStillReturns1) {
  std::string path = Image({{0, {0x1234, 0xF00F}}, {0x100, {1, 2, 3}}});
  unit.judge = [](const Command& c) {
    return static_cast<uint16_t>(c.code == kVerifyCode && c.address == 0 ? 4 : 0);
  };
  EXPECT_EQ(programmer().FlashVerify(path), 1);
  EXPECT_FALSE(programmer().verifyPassed);
  EXPECT_EQ(unit.Of(kVerifyCode).size(), 2u);
  EXPECT_THAT(window.LogLines(), ElementsAre("Flash verified fail!\n"));

  unit.judge = nullptr;
  window.LogList().ResetContent();
  EXPECT_EQ(programmer().FlashVerify(path), 1);
  EXPECT_TRUE(programmer().verifyPassed);
  EXPECT_THAT(window.LogLines(), ElementsAre("Flash verified Successful!!\n"));
  EXPECT_EQ(unit.Of(kVerifyCode).back().word4, 6);
}

TEST_F(ProgrammerTest, EraseWaitsAndPollsForItsStatus) {
  EXPECT_EQ(programmer().FlashErase(), 1);
  EXPECT_THAT(clock.Sleeps(), ElementsAre(100, 100, 100, 50));
  EXPECT_THAT(window.LogLines(), ElementsAre("            \n", "Flash Erasing...\n",
                                             "Flash Erased Successful!\n", "            \n"));
  ASSERT_EQ(unit.commands.size(), 1u);
  EXPECT_EQ(unit.commands[0].word4, 0x0500);

  unit.statusFor[kEraseCode] = 1;
  EXPECT_EQ(programmer().FlashErase(), 0);
  EXPECT_EQ(window.LogLines()[6], "Flash Erased Fail!\n");
}

TEST_F(ProgrammerTest, EraseWithoutStatusGivesUpAfter1281Polls) {
  unit.noResultFor[kEraseCode] = true;
  EXPECT_EQ(programmer().FlashErase(), 0);
  EXPECT_EQ(clock.TotalSleptMs(), 300 + 1281 * 50);
  unit.silentFor[kEraseCode] = true;
  int64_t before = clock.TotalSleptMs();
  EXPECT_EQ(programmer().FlashErase(), 0);  // not acknowledged: no polls at all
  EXPECT_EQ(clock.TotalSleptMs() - before, 200 + kLateAnswerMs);
}

TEST_F(ProgrammerTest, ClosingAcknowledgesTheUnitsReply) {
  EXPECT_EQ(programmer().FlashClose(), 1);
  ASSERT_EQ(unit.commands.size(), 1u);
  EXPECT_EQ(unit.commands[0].code, kClosingCode);
  EXPECT_EQ(unit.commands[0].word4, 0x0500);
  uint8_t status[2] = {0, 0};
  uint16_t crc = BootLink::Crc16(status, 2);
  EXPECT_EQ(line.Writes().back(),
            (std::vector<uint8_t>{0x06, 0x99, 0x66, unit.commands[0].sequence, 0x00, 0x08,
                                  static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)}));
  unit.silentFor[kClosingCode] = true;
  EXPECT_EQ(programmer().FlashClose(), 0);
}

TEST_F(ProgrammerTest, PercentStaysWithin0To100) {
  std::string path = Image({{0, {1}}, {8, {2}}, {16, {3}}});
  dialog.image.imageLength = -1;  // the image could not be loaded
  EXPECT_EQ(programmer().FlashBurn(path), 1);
  EXPECT_THAT(positions, ElementsAre(0, 0, 0));
  positions.clear();
  dialog.image.imageLength = 60;  // three calls of 224 count far past 60 bytes
  EXPECT_EQ(programmer().FlashBurn(path), 1);
  EXPECT_THAT(positions, ElementsAre(100, 100, 100));
}

}  // namespace
}  // namespace morlane
