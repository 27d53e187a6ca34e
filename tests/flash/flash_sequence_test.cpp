// Whole programming runs through the dialog, against the simulated unit's CPUs on an
// in-memory line and the virtual clock: what the technician sees and what the flash holds.
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/headless_window.h"
#include "app/kestrum_dlg.h"
#include "flash/sim_line.h"
#include "flash/test_image_maker.h"
#include "link/sha256.h"
#include "platform/inprocess_hid.h"
#include "platform/utf8_path.h"
#include "sim/sim_unit.h"
#include "support/memory_serial.h"
#include "support/process.h"
#include "support/virtual_clock.h"
#include "ui/control_ids.h"

namespace morlane {
namespace {

using test::ImageSection;
using test::Words;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr uint16_t kOldFirmware = 0x5A5A;

const std::vector<std::string> kProgrammedLines = {
    "Connected inverter Sucessful!\n",     "            \n", "Flash Erasing...\n",
    "Flash Erased Successful!\n",          "            \n", "Flash burning in...\n",
    "Flash update firmware Successful!\n", "            \n", "Flash verified Successful!!\n",
    "------------------------------------"};

class SequenceTest : public ::testing::Test {
 protected:
  SequenceTest() {
    test::ConnectToUnit(line, unit);
    window.SetCommandHandler([this](int id) { dialog.OnCommand(id); });
    dialog.OnInitDialog();
    std::error_code error;
    home = std::filesystem::current_path(error);
    std::filesystem::current_path(dir.Path());
    window.Click(ctl::kOpen);
  }
  ~SequenceTest() override {
    std::error_code error;
    std::filesystem::current_path(home, error);
  }

  std::string Write(const std::string& name, const std::vector<ImageSection>& sections) {
    dir.Write(name, test::MakeInverterImage(sections));
    return dir.File(name);
  }

  int Manual(const std::string& path) {
    window.Click(ctl::kModeManual);
    window.QueueFileDialogAnswer(path);
    window.Click(ctl::kSelectFirmware);
    from = window.LogLines().size();
    window.Click(ctl::kUpdateFirmware);
    return dialog.lastResult;
  }

  int Auto() {
    window.Click(ctl::kModeAuto);
    from = window.LogLines().size();
    window.Click(ctl::kAutomatic);
    return dialog.lastResult;
  }

  // The step the last programming failed at first, as a run record names it.
  std::string FailedStep() { return FlashStepName(dialog.flasher.Programmer().outcome.failedStep); }
  std::vector<std::string> AttemptSteps() const {
    std::vector<std::string> steps;
    for (const ImageAttempt& attempt : dialog.flasher.attempts) {
      steps.push_back(std::string(1, attempt.cpu ? attempt.cpu : '?') + ":" +
                      (attempt.passed ? "pass" : FlashStepName(attempt.outcome.failedStep)));
    }
    return steps;
  }

  std::vector<std::string> NewLines() const {
    auto all = window.LogLines();
    return std::vector<std::string>(all.begin() + static_cast<long>(from), all.end());
  }

  // The flash of a CPU after its erase and the programming of these sections.
  std::vector<uint16_t> Programmed(char cpu, const std::vector<ImageSection>& sections) {
    std::vector<uint16_t> words(unit.Flash(cpu).words.size(), 0xFFFF);
    for (const auto& s : sections)
      std::copy(s.words.begin(), s.words.end(), words.begin() + s.address);
    return words;
  }

  // What reached the unit at the given speed.
  std::vector<uint8_t> ReceivedAt(int baud) {
    std::vector<uint8_t> bytes;
    for (const auto& r : unit.ReceivedBytes()) {
      if (r.baud == baud) bytes.push_back(r.byte);
    }
    return bytes;
  }

  test::VirtualClock clock;
  test::MemoryLine line{clock};
  test::FreshPorts ports{line};
  InProcessHidBackend hid;
  HeadlessWindow window;
  CKestrumDlg dialog{window, clock, ports, hid};
  sim::SimUnit unit;
  test::TempDir dir;
  std::filesystem::path home;
  size_t from = 0;
};

const std::vector<ImageSection> kMasterImage = {{0x10, Words(120, 0x100)}, {0x2400, Words(5)}};
const std::vector<ImageSection> kSlaveImage = {{0x0, Words(3, 0x900)}, {0x7000, Words(114)}};

TEST_F(SequenceTest, ManualMasterIsErasedProgrammedAndVerified) {
  EXPECT_EQ(Manual(Write("fw_master.bin", kMasterImage)), 1);
  EXPECT_EQ(NewLines(), kProgrammedLines);
  EXPECT_EQ(FailedStep(), "");
  const sim::CpuFlash& master = unit.Flash('M');
  EXPECT_THAT(master.errors, IsEmpty());
  EXPECT_EQ(master.words, Programmed('M', kMasterImage));
  EXPECT_EQ(master.eraseCount, 1);
  EXPECT_EQ(master.programFrames, 3);
  EXPECT_TRUE(master.closed);
  EXPECT_TRUE(master.closingAcknowledged);
  EXPECT_EQ(unit.Flash('S').eraseCount, 0);
  // The selection went at 9600 baud, everything of the bootloader at 19200.
  EXPECT_EQ(ReceivedAt(9600), (std::vector<uint8_t>{'P', 'M', '\r'}));
  EXPECT_EQ(ReceivedAt(19200).front(), 'A');
  EXPECT_FALSE(dialog.serial.IsOpen());
  EXPECT_EQ(window.GetProgressPos(ctl::kProgressBar), 0);
  EXPECT_TRUE(window.IsControlEnabled(ctl::kSelectFirmware));
}

TEST_F(SequenceTest, ManualSlaveFromThePathsName) {
  EXPECT_EQ(Manual(Write("fw_slave.bin", kSlaveImage)), 1);
  EXPECT_EQ(NewLines(), kProgrammedLines);
  EXPECT_THAT(unit.Flash('S').errors, IsEmpty());
  EXPECT_EQ(unit.Flash('S').words, Programmed('S', kSlaveImage));
  EXPECT_EQ(unit.Flash('M').words,
            std::vector<uint16_t>(unit.Flash('M').words.size(), kOldFirmware));
}

// The master's image takes 254 program frames: erase 0, programs 1 to 254, verify 255,
// and its closing reply carries sequence 0 again. The slave's sequence restarts at 0, so
// its erase result carries 0 too and must not be taken for a repeat of the last frame.
TEST_F(SequenceTest, AutomaticProgramsMasterThenSlaveWithFreshSequences) {
  std::vector<ImageSection> master = {{0x40, Words(253 * 114 + 1)}};
  std::vector<ImageSection> slave = {{0x0, Words(1)}, {0x10, Words(1)}};
  std::string masterPath = Write("Master.bin", master);
  std::string slavePath = Write("Slave.bin", slave);
  EXPECT_EQ(Auto(), 1);
  std::vector<std::string> expected;
  for (const std::string& path : {masterPath, slavePath}) {
    expected.insert(
        expected.end(),
        {"The MCU firmware file name is",
         (std::filesystem::current_path() / std::filesystem::path(path).filename()).string(),
         "bin file OK"});
    expected.insert(expected.end(), kProgrammedLines.begin(), kProgrammedLines.end());
  }
  expected.push_back("File flash burn Successful!\n");
  EXPECT_EQ(NewLines(), expected);
  EXPECT_THAT(unit.Flash('M').errors, IsEmpty());
  EXPECT_THAT(unit.Flash('S').errors, IsEmpty());
  EXPECT_EQ(unit.Flash('M').words, Programmed('M', master));
  EXPECT_EQ(unit.Flash('S').words, Programmed('S', slave));
  EXPECT_EQ(ReceivedAt(9600), (std::vector<uint8_t>{'P', 'M', '\r', 'P', 'S', '\r'}));
  EXPECT_THAT(AttemptSteps(), ElementsAre("M:pass", "S:pass"));
}

TEST_F(SequenceTest, MalformedImageIsRefusedBeforeItsCpuIsSelected) {
  std::vector<uint8_t> broken = test::MakeInverterImage({{0, Words(20)}}, false);
  broken.resize(broken.size() - 10);
  dir.Write("Master.bin", broken);
  Write("Slave.bin", kSlaveImage);
  EXPECT_EQ(Auto(), 0);
  std::vector<std::string> lines = NewLines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Bin file is error!\n");
  EXPECT_EQ(lines[1], "------------------------------------");
  EXPECT_EQ(lines.back(), "File flash burn Fail!\n");
  EXPECT_EQ(ReceivedAt(9600), (std::vector<uint8_t>{'P', 'S', '\r'}));
  EXPECT_EQ(unit.Flash('M').eraseCount, 0);
  EXPECT_EQ(unit.Flash('S').words, Programmed('S', kSlaveImage));
  EXPECT_THAT(AttemptSteps(), ElementsAre("M:image", "S:pass"));

  // The same file chosen by hand: refused, the port closed, nothing on the line.
  size_t before = unit.ReceivedBytes().size();
  EXPECT_EQ(Manual(dir.File("Master.bin")), 0);
  EXPECT_THAT(NewLines(),
              ElementsAre("Bin file is error!\n", "------------------------------------"));
  EXPECT_EQ(unit.ReceivedBytes().size(), before);
  EXPECT_FALSE(dialog.serial.IsOpen());
  EXPECT_EQ(FailedStep(), "image");
}

TEST_F(SequenceTest, SilentSlaveSelectionEndsTheAutomaticUpdateWithThePortClosed) {
  unit.Faults().noSelectionEcho = true;
  Write("A_slave.bin", kSlaveImage);
  Write("B_master.bin", kMasterImage);
  EXPECT_EQ(Auto(), 0);
  std::vector<std::string> lines = NewLines();
  EXPECT_EQ(lines.back(), "the communicaton with inverter is fail,please check it!");
  EXPECT_THAT(lines, Not(Contains("File flash burn Fail!\n")));
  EXPECT_FALSE(dialog.serial.IsOpen());
  EXPECT_EQ(ReceivedAt(9600), (std::vector<uint8_t>{'P', 'S', '\r'}));
  EXPECT_THAT(ReceivedAt(19200), IsEmpty());
  EXPECT_THAT(AttemptSteps(), ElementsAre("S:select"));

  // The master's selection unanswered as well: the failed handshake is put down to it.
  std::filesystem::remove(dir.File("A_slave.bin"));
  unit.Faults().noAutobaudEcho = true;
  EXPECT_EQ(Auto(), 0);
  EXPECT_THAT(AttemptSteps(), ElementsAre("M:select"));
}

TEST_F(SequenceTest, AutomaticUpdateWithoutUsableImages) {
  EXPECT_EQ(Auto(), 0);
  // The dialog's two lines, then the folder that was searched.
  EXPECT_THAT(NewLines(), ElementsAre("there are not the bin file,please check your software \n",
                                      "install directory!\n",
                                      "Images (*.bin) were searched for in " +
                                          PathToUtf8(std::filesystem::current_path())));
  EXPECT_THAT(unit.ReceivedBytes(), IsEmpty());

  // A file without the mark stops everything, even with a good image after it.
  dir.Write("A.bin", std::string("not an image"));
  Write("Master.bin", kMasterImage);
  EXPECT_EQ(Auto(), 0);
  EXPECT_THAT(NewLines(), ElementsAre("bin file Error"));
  EXPECT_THAT(unit.ReceivedBytes(), IsEmpty());
}

TEST_F(SequenceTest, NamesDecideTheCpuCaseSensitively) {
  Write("MASTER.bin", kMasterImage);
  Write("MasterSlave.bin", kMasterImage);
  EXPECT_EQ(Auto(), 0);  // one image found was not programmed
  std::vector<std::string> lines = NewLines();
  EXPECT_EQ(lines.front(), "MASTER.bin is not master file or slave file\n");
  EXPECT_EQ(lines.back(), "File flash burn Fail!\n");
  EXPECT_EQ(ReceivedAt(9600), (std::vector<uint8_t>{'P', 'M', '\r'}));
  EXPECT_EQ(unit.Flash('M').words, Programmed('M', kMasterImage));
}

TEST_F(SequenceTest, FailedHandshakesAreNoSuccess) {
  unit.Faults().noAutobaudEcho = true;
  Write("Master.bin", kMasterImage);
  Write("Slave.bin", kSlaveImage);
  EXPECT_EQ(Auto(), 0);
  std::vector<std::string> lines = NewLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Connected inverter Fail!\n"), 2);
  EXPECT_EQ(std::count(lines.begin(), lines.end(),
                       "the communicaton with inverter is fail,please check it!"),
            2);
  EXPECT_EQ(lines.back(), "File flash burn Fail!\n");
  EXPECT_THAT(AttemptSteps(), ElementsAre("M:connect", "S:connect"));
}

TEST_F(SequenceTest, VerifyMismatchStillClosesButFails) {
  unit.Faults().verifyMismatch = true;
  EXPECT_EQ(Manual(Write("master.bin", kMasterImage)), 0);
  std::vector<std::string> lines = NewLines();
  ASSERT_EQ(lines.size(), kProgrammedLines.size());
  EXPECT_EQ(lines[8], "Flash verified fail!\n");
  EXPECT_TRUE(unit.Flash('M').closed);
  EXPECT_TRUE(unit.Flash('M').closingAcknowledged);
  EXPECT_EQ(FailedStep(), "verify");
}

TEST_F(SequenceTest, CorruptedVerifyResultFailsAndCorruptedClosingReplyIsRejected) {
  unit.Faults().corruptResultOfFrame = 5;  // erase, 3 program frames, then the first verify
  EXPECT_EQ(Manual(Write("master.bin", kMasterImage)), 0);
  EXPECT_EQ(NewLines()[8], "Flash verified fail!\n");

  unit.Faults().corruptResultOfFrame = 7;  // the closing reply: answered with 15
  EXPECT_EQ(Manual(dir.File("master.bin")), 1);
  EXPECT_THAT(unit.Flash('M').errors, IsEmpty());
  EXPECT_TRUE(unit.Flash('M').closingAcknowledged);
  EXPECT_EQ(FailedStep(), "close");
}

TEST_F(SequenceTest, LostAcknowledgementsAndALostLineStopTheBurn) {
  unit.Faults().dropAcksAfterFrames = 2;
  EXPECT_EQ(Manual(Write("master.bin", kMasterImage)), 0);
  EXPECT_EQ(NewLines().back(), "------------------------------------");
  EXPECT_EQ(NewLines()[NewLines().size() - 2], "Bruned failure\n");
  EXPECT_FALSE(dialog.serial.IsOpen());
  EXPECT_EQ(FailedStep(), "burn");

  unit.Faults().dropAcksAfterFrames = -1;
  unit.Faults().lineGoneAfterProgramFrames = 1;
  EXPECT_EQ(Manual(dir.File("master.bin")), 0);
  EXPECT_THAT(NewLines(), Contains("Bruned failure\n"));
  EXPECT_FALSE(dialog.serial.IsOpen());
}

// A unit pulled mid-burn: the dialog's own failure line, then one line naming the port, and
// the slave is never selected on a port that is gone; the percentage does not stay behind.
TEST_F(SequenceTest, PortGoneMidBurnEndsTheAutomaticUpdateThere) {
  Write("Master.bin", kMasterImage);
  Write("Slave.bin", kSlaveImage);
  unit.Faults().lineGoneAfterProgramFrames = 1;
  EXPECT_EQ(Auto(), 0);
  const std::vector<std::string> lines = NewLines();
  auto burnFailed = std::find(lines.begin(), lines.end(), "Bruned failure\n");
  ASSERT_NE(burnFailed, lines.end());
  ASSERT_NE(burnFailed + 1, lines.end());
  EXPECT_EQ(*(burnFailed + 1), "the port mem:1 went away: is the cable or adapter unplugged?");
  EXPECT_EQ(lines.back(), "File flash burn Fail!\n");
  EXPECT_EQ(ReceivedAt(9600), (std::vector<uint8_t>{'P', 'M', '\r'}));
  EXPECT_THAT(AttemptSteps(), ElementsAre("M:burn"));
  EXPECT_EQ(dialog.flasher.attempts[0].outcome.why, StepReason::Port);
  EXPECT_EQ(window.GetControlText(ctl::kPercentText), "");
}

TEST_F(SequenceTest, RefusedEraseEndsTheRun) {
  unit.Faults().refuseErase = true;
  EXPECT_EQ(Manual(Write("master.bin", kMasterImage)), 0);
  EXPECT_THAT(NewLines(), ElementsAre("Connected inverter Sucessful!\n", "            \n",
                                      "Flash Erasing...\n", "Flash Erased Fail!\n",
                                      "            \n", "------------------------------------"));
  EXPECT_EQ(unit.Flash('M').programFrames, 0);
  EXPECT_EQ(FailedStep(), "erase");
}

// What a station records of a CPU comes from the programmer itself: the digest of the
// bytes it sent, their count, the time of each step, the closing and the link's counts.
// A file replaced after it was read for the burn is recorded with what was sent, and the
// CPU fails with "image": it does not hold the file's image.
TEST_F(SequenceTest, TheRecordsFactsAreThoseOfTheBytesSent) {
  const std::string path = Write("master.bin", kMasterImage);
  const std::vector<uint8_t> sent = test::MakeInverterImage(kMasterImage);
  EXPECT_EQ(Manual(path), 1);
  const FlashOutcome& outcome = dialog.flasher.Programmer().outcome;
  EXPECT_EQ(outcome.sha256, FileSha256(path));
  EXPECT_EQ(outcome.bytes, static_cast<int64_t>(sent.size()));
  EXPECT_EQ(outcome.closing, "answered");
  // Erase, three program frames, two verify frames, the closing.
  EXPECT_EQ(outcome.link.frames, 7);
  EXPECT_EQ(outcome.link.naks, 0);
  std::vector<std::string> steps;
  for (const StepTime& time : outcome.seconds) steps.push_back(time.step);
  EXPECT_THAT(steps, ElementsAre("select", "connect", "erase", "burn", "verify", "close"));
  // The bootloader's start alone is two seconds of the virtual clock.
  EXPECT_GE(outcome.seconds[1].seconds, 2.0);
  const std::string sentDigest = outcome.sha256;

  const std::vector<ImageSection> other = {{0x10, Words(120, 0x700)}, {0x2400, Words(5)}};
  window.SetLineHandler([&](std::string_view line) {
    if (line == "Flash update firmware Successful!\n") {
      dir.Write("master.bin", test::MakeInverterImage(other));
    }
  });
  EXPECT_EQ(Manual(path), 0);
  window.SetLineHandler(nullptr);
  EXPECT_EQ(NewLines()[8], "Flash verified fail!\n");
  EXPECT_EQ(FailedStep(), "image");
  EXPECT_EQ(outcome.sha256, sentDigest);
  EXPECT_NE(FileSha256(path), sentDigest);
  EXPECT_EQ(unit.Flash('M').words, Programmed('M', kMasterImage));
}

}  // namespace
}  // namespace morlane
