// The automatic command test through the headless window and the simulated unit.
#include <gmock/gmock.h>

#include <algorithm>
#include <map>
#include <regex>

#include "console_fixture.h"

namespace morlane::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

const std::string kDash36(36, '-');
const LocalTime kFinishTime{2013, 11, 30, 23, 59, 58};

class AutoTest : public ConsoleTest {
 protected:
  // The finish line gets a time of its own, to tell it from the begin line.
  void FinishAtOtherTime() {
    onLine = [this](const std::string& line) {
      if (line == "Stop auto send MCU command") virtualClock.SetLocalTime(kFinishTime);
    };
  }
  void RunUntilStopped() {
    ASSERT_TRUE(window.Click(ctl::kStart));
    ASSERT_TRUE(ServeUntilEnded());
  }
};

TEST_F(AutoTest, HidThreeAnswersToQ1) {
  OpenUsb();
  CheckOnly({ctl::kCheckQ1});
  StopAtLine(kQ1Answer, 3);
  FinishAtOtherTime();
  std::string fileAfterFirstExchange;
  std::map<int, bool> buttonsWhileRunning;
  int commands = 0;
  auto finishTime = onLine;
  onLine = [&](const std::string& line) {
    finishTime(line);
    if (line != "Q1" || ++commands != 2) return;
    // The file is shared and written through: another reader sees the first exchange.
    fileAfterFirstExchange = McuLogText();
    for (int id : {ctl::kStart, ctl::kStop, ctl::kClose, ctl::kSelectFirmware,
                   ctl::kSelectUsbFirmware, ctl::kUpdateFirmware, ctl::kUpdateUsbFirmware}) {
      buttonsWhileRunning[id] = window.IsControlEnabled(id);
    }
  };
  window.EnableControl(ctl::kUpdateFirmware, true);
  RunUntilStopped();

  EXPECT_THAT(window.LogLines(),
              ElementsAre("Begin Auto Send MCU command", kDash36, "Send MCU command in auto thread",
                          "Q1", kQ1Answer, "Q1", kQ1Answer, "Q1", kQ1Answer,
                          "Stop auto send MCU command", "The auto send command Eixt!", kDash36));
  const std::string begin = "\rTest Begin Time: 2012/4/12 9:5:3----------------------\r\r";
  const std::string exchange = std::string("Q1\r") + kQ1Answer;
  EXPECT_EQ(McuLogText(), begin + exchange + exchange + exchange +
                              "\r\rTest Finish Time: 2013/11/30 23:59:58----------------------\r");
  EXPECT_EQ(fileAfterFirstExchange, begin + exchange);
  EXPECT_THAT(unit.ServiceCommandsSeen(), ElementsAre("Q1", "Q1", "Q1"));

  EXPECT_THAT(
      buttonsWhileRunning,
      ElementsAre(std::pair(ctl::kStart, false), std::pair(ctl::kStop, true),
                  std::pair(ctl::kSelectFirmware, false), std::pair(ctl::kUpdateFirmware, false),
                  std::pair(ctl::kClose, false), std::pair(ctl::kUpdateUsbFirmware, false),
                  std::pair(ctl::kSelectUsbFirmware, false)));
  EXPECT_TRUE(window.IsControlEnabled(ctl::kStart));
  EXPECT_FALSE(window.IsControlEnabled(ctl::kStop));
  EXPECT_TRUE(window.IsControlEnabled(ctl::kClose));
  EXPECT_FALSE(window.IsControlEnabled(ctl::kUpdateFirmware));
  // "Stop" gives the two select buttons back.
  EXPECT_TRUE(window.IsControlEnabled(ctl::kSelectFirmware));
  EXPECT_TRUE(window.IsControlEnabled(ctl::kSelectUsbFirmware));
  // The only pacing: 300 ms before each command.
  EXPECT_THAT(virtualClock.Sleeps(), ElementsAre(300, 300, 300));
}

TEST_F(AutoTest, SerialLayoutFramesEveryCommand) {
  OpenCom();
  CheckOnly({ctl::kCheckQ1, ctl::kCheckV2});
  StopAtLine(kV2Answer, 1);
  FinishAtOtherTime();
  RunUntilStopped();

  EXPECT_THAT(window.LogLines(),
              ElementsAre("Begin Auto Send MCU command", kDash36, "Send MCU command in auto thread",
                          "Q1", kQ1Answer, "V2", kV2Answer, "Stop auto send MCU command",
                          "Stop auto send command!", kDash36));
  const std::string begin = "\r\nTest Begin Time: 2012/4/12 9:5:3----------------------\r\n";
  EXPECT_EQ(McuLogText(),
            begin + "Q1\r\n" + kQ1Answer + "\r\n" + begin + "V2\r\n" + kV2Answer + "\r\n" +
                "\r\nTest Finish Time: 2013/11/30 23:59:58----------------------\r\n");
  EXPECT_EQ(com1.AllWritten(), std::vector<uint8_t>({'Q', '1', '\r', 'V', '2', '\r'}));
  EXPECT_EQ(dialog->console.LastSerialAnswer(), kV2Answer);
  // The line settles for 500 ms before the first command.
  EXPECT_THAT(virtualClock.Sleeps(), ElementsAre(500, 300, 300));
  EXPECT_TRUE(window.IsControlEnabled(ctl::kStart));
  EXPECT_TRUE(window.IsControlEnabled(ctl::kClose));
}

TEST_F(AutoTest, SerialAnswerThatComesAfterTheNextCommand) {
  OpenCom();
  lateSerialAnswers = true;
  CheckOnly({ctl::kCheckQ1, ctl::kCheckV2});
  StopAtLine(kV2Answer, 1);
  RunUntilStopped();

  EXPECT_THAT(window.LogLines(),
              ElementsAre("Begin Auto Send MCU command", kDash36, "Send MCU command in auto thread",
                          "Q1", "Write Report Error", "V2", kQ1Answer, "Q1", kV2Answer,
                          "Stop auto send MCU command", "Stop auto send command!", kDash36));
  const std::string begin = "\r\nTest Begin Time: 2012/4/12 9:5:3----------------------\r\n";
  EXPECT_EQ(McuLogText(), begin + "Q1\r\n" + begin + "V2\r\n" + kQ1Answer + "\r\n" + begin +
                              "Q1\r\n" + kV2Answer + "\r\n" +
                              "\r\nTest Finish Time: 2012/4/12 9:5:3----------------------\r\n");
}

TEST_F(AutoTest, AutoBoxAddsV) {
  OpenUsb();
  // Open checks "Auto"; with "Q1" it is the default choice of a fresh session.
  ASSERT_EQ(window.GetCheck(ctl::kModeAuto), 1);
  StopAtLine(kVAnswer, 1);
  RunUntilStopped();
  EXPECT_THAT(unit.ServiceCommandsSeen(), ElementsAre("Q1", "V"));
  EXPECT_THAT(McuLogText(), ::testing::HasSubstr(std::string("V\r") + kVAnswer));
}

TEST_F(AutoTest, HidFailuresAreLoggedAndTheTestGoesOn) {
  OpenUsb();
  CheckOnly({ctl::kCheckQ1, ctl::kCheckV2});
  unit.Faults().silent = true;
  onLine = [this](const std::string& line) {
    // The unit comes back after one silent exchange; after its next answer its USB side
    // hangs and takes no more reports.
    if (line == "Read Error.") unit.Faults().silent = false;
    if (line == kV2Answer) usb.Device()->SetUnresponsive(true);
  };
  StopAtLine("Write report error", 1);
  RunUntilStopped();
  EXPECT_THAT(window.LogLines(),
              ElementsAre("Begin Auto Send MCU command", kDash36, "Send MCU command in auto thread",
                          "Q1", "Read Error.", "V2", kV2Answer, "Q1", "Write report error",
                          "Stop auto send MCU command", "The auto send command Eixt!", kDash36));
  // Failed exchanges leave nothing in the file.
  EXPECT_EQ(McuLogText(),
            std::string("\rTest Begin Time: 2012/4/12 9:5:3----------------------\r\r") + "V2\r" +
                kV2Answer + "\r\rTest Finish Time: 2012/4/12 9:5:3----------------------\r");
}

TEST_F(AutoTest, StopWithoutATest) {
  dialog->OnCommand(ctl::kStop);
  EXPECT_THAT(window.LogLines(), ElementsAre("Stop auto send MCU command"));
  EXPECT_TRUE(window.IsControlEnabled(ctl::kSelectFirmware));
  EXPECT_TRUE(window.IsControlEnabled(ctl::kSelectUsbFirmware));
  EXPECT_FALSE(window.IsControlEnabled(ctl::kStart));
  EXPECT_FALSE(dialog->console.TestRunning());
  EXPECT_TRUE(dir.Read("MCUlog.txt").empty());
}

TEST_F(AutoTest, StartWithoutAnOpenLink) {
  dialog->OnCommand(ctl::kStart);
  dialog->session.sessionState = SessionState::Hid;  // an HID session whose device is gone
  dialog->OnCommand(ctl::kStart);
  EXPECT_THAT(window.LogLines(),
              ElementsAre("Please open device first!", "Please open device first!"));
  EXPECT_FALSE(dialog->console.TestRunning());
}

TEST_F(AutoTest, SecondStartNeverStartsASecondWorker) {
  OpenUsb();
  CheckOnly({ctl::kCheckQ1});
  onLine = [this](const std::string& line) {
    // Once stopped, a Start that slips in before the worker has ended is not taken
    // either: the old worker must not be revived by a lowered stop flag.
    if (line == "Stop auto send MCU command") dialog->OnCommand(ctl::kStart);
  };
  StopAtLine(kQ1Answer, 2);
  ASSERT_TRUE(window.Click(ctl::kStart));
  // A second press that got through before the worker disabled the button.
  dialog->OnCommand(ctl::kStart);
  EXPECT_FALSE(window.Click(ctl::kStart));
  ASSERT_TRUE(ServeUntilEnded());
  EXPECT_EQ(CountLines("Begin Auto Send MCU command"), 1);
  EXPECT_EQ(CountLines("Send MCU command in auto thread"), 1);
  EXPECT_EQ(CountLines("The auto send command Eixt!"), 1);
  EXPECT_EQ(unit.ServiceCommandsSeen().size(), 2u);
}

TEST_F(AutoTest, EveryStartEmptiesTheFile) {
  OpenUsb();
  CheckOnly({ctl::kCheckQ1});
  StopAtLine(kQ1Answer, 3);
  RunUntilStopped();
  CheckOnly({ctl::kCheckV2});
  StopAtLine(kV2Answer, 1);
  RunUntilStopped();
  EXPECT_EQ(McuLogText(),
            std::string("\rTest Begin Time: 2012/4/12 9:5:3----------------------\r\r") + "V2\r" +
                kV2Answer + "\r\rTest Finish Time: 2012/4/12 9:5:3----------------------\r");
}

TEST_F(AutoTest, UnwritableFileDoesNotStopTheTest) {
  dialog->console.SetLogPath(dir.File("no such directory/MCUlog.txt"));
  OpenUsb();
  CheckOnly({ctl::kCheckQ1});
  StopAtLine(kQ1Answer, 2);
  RunUntilStopped();
  EXPECT_EQ(CountLines(kQ1Answer), 2);
  EXPECT_EQ(CountLines("The auto send command Eixt!"), 1);
}

class IdleAutoTest : public RealTimeConsoleTest {};

// With no box checked the worker cycles without a command until "Stop".
TEST_F(IdleAutoTest, NoBoxCheckedOnEitherLink) {
  const std::regex hid(
      "\rTest Begin Time: \\d{4}/\\d{1,2}/\\d{1,2} \\d{1,2}:\\d{1,2}:\\d{1,2}-{22}\r\r"
      "\r\rTest Finish Time: \\d{4}/\\d{1,2}/\\d{1,2} \\d{1,2}:\\d{1,2}:\\d{1,2}-{22}\r");
  const std::regex serial(
      "\r\nTest Finish Time: \\d{4}/\\d{1,2}/\\d{1,2} \\d{1,2}:\\d{1,2}:\\d{1,2}-{22}\r\n");
  for (int entry : {1, 0}) {
    SCOPED_TRACE(entry);
    Open(entry);
    CheckOnly({});
    ASSERT_TRUE(window.Click(ctl::kStart));
    ASSERT_TRUE(ServeUntil([&] { return CountLines("Send MCU command in auto thread") == 1; }));
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(150);
    ServeUntil([&] { return std::chrono::steady_clock::now() > until; });
    ASSERT_TRUE(window.Click(ctl::kStop));
    ASSERT_TRUE(ServeUntilEnded());
    EXPECT_TRUE(std::regex_match(McuLogText(), entry == 1 ? hid : serial)) << McuLogText();
    EXPECT_TRUE(unit.ServiceCommandsSeen().empty());
    EXPECT_THAT(window.LogLines(),
                ElementsAre("Begin Auto Send MCU command", kDash36,
                            "Send MCU command in auto thread", "Stop auto send MCU command",
                            entry == 1 ? "The auto send command Eixt!" : "Stop auto send command!",
                            kDash36));
    window.Click(ctl::kClose);
  }
}

// "Send" stays usable during a test; its exchange is kept whole.
TEST_F(IdleAutoTest, SendDuringATestGetsItsOwnAnswer) {
  OpenUsb();
  CheckOnly({ctl::kCheckQ1});
  ASSERT_TRUE(window.Click(ctl::kStart));
  ASSERT_TRUE(ServeUntil([&] { return CountLines(kQ1Answer) == 1; }));
  window.TypeText(ctl::kCommandEdit, "V2");
  ASSERT_TRUE(window.Click(ctl::kSend));
  EXPECT_EQ(dialog->lastResult, 1);
  ASSERT_TRUE(ServeUntil([&] { return CountLines(kQ1Answer) == 2; }));
  ASSERT_TRUE(window.Click(ctl::kStop));
  ASSERT_TRUE(ServeUntilEnded());
  std::vector<std::string> lines = window.LogLines();
  auto send = std::find(lines.begin(), lines.end(), "Send MCU command");
  ASSERT_NE(send, lines.end());
  ASSERT_LT(send + 2, lines.end());
  EXPECT_EQ(send[1], "V2");
  EXPECT_EQ(send[2], kV2Answer);
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    if (lines[i] == "Q1") {
      EXPECT_EQ(lines[i + 1], kQ1Answer);
    }
  }
}

}  // namespace
// The mode boxes can bring "Update Firmware" (and "Automatic") back during a serial test;
// the procedure must not close and reopen the port the worker is using.
TEST_F(IdleAutoTest, ProceduresThatTakeTheLinkWaitForTheTestToStop) {
  dir.Write("Master.bin", std::vector<uint8_t>{0x08, 0xAA, 0, 0});
  Open(0);
  CheckOnly({ctl::kCheckQ1});
  ASSERT_TRUE(window.Click(ctl::kStart));
  ASSERT_TRUE(ServeUntil([&] { return CountLines(kQ1Answer) >= 1; }));
  const int opens = com1.Opens();
  window.Click(ctl::kAutomatic);
  ASSERT_TRUE(window.Click(ctl::kModeManual));
  window.QueueFileDialogAnswer(dir.File("Master.bin"));
  ASSERT_TRUE(window.Click(ctl::kSelectFirmware));
  window.Click(ctl::kUpdateFirmware);
  EXPECT_EQ(com1.Opens(), opens);
  EXPECT_EQ(CountLines("Stop the automatic command test first!"), 2);
  ASSERT_TRUE(ServeUntil([&] { return CountLines(kQ1Answer) >= 2; }));
  ASSERT_TRUE(window.Click(ctl::kStop));
  ASSERT_TRUE(ServeUntilEnded());
}

}  // namespace morlane::test
