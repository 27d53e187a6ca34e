// "Send": one typed command over each link and the unit's answer in the log.
#include <gmock/gmock.h>

#include "console_fixture.h"

namespace morlane::test {
namespace {

using ::testing::ElementsAre;

class SendTest : public ConsoleTest {
 protected:
  void Send(const std::string& text, bool plusEnter) {
    window.TypeText(ctl::kCommandEdit, text);
    window.SetCheck(ctl::kPlusEnter, plusEnter ? 1 : 0);
    ASSERT_TRUE(window.Click(ctl::kSend));
  }
  // The payload length byte and payload of the last output report the unit got.
  std::string LastHidPayload() {
    std::vector<uint8_t> report = usb.ReportsSeen().back();
    return std::string(report.begin() + 4, report.begin() + 4 + report[3]);
  }
};

TEST_F(SendTest, HidCommandWithAndWithoutEnter) {
  OpenUsb();
  Send("Q1", true);
  EXPECT_EQ(dialog->lastResult, 1);
  EXPECT_EQ(LastHidPayload(), "Q1\r");
  // The answer is the reply's text up to its first zero: the unit's carriage return stays.
  EXPECT_THAT(window.LogLines(), ElementsAre("Send MCU command", "Q1", kQ1Answer));

  window.LogList().ResetContent();
  Send("V2", false);
  EXPECT_EQ(LastHidPayload(), "V2");
  std::vector<uint8_t> report = usb.ReportsSeen().back();
  ASSERT_EQ(report.size(), 69u);  // the whole output report, zero-filled
  EXPECT_EQ(report[3], 2);
  EXPECT_EQ(report[6], 0);
  // A report is one whole command for the controller, with or without its return.
  EXPECT_THAT(window.LogLines(), ElementsAre("Send MCU command", "V2", kV2Answer));
}

TEST_F(SendTest, HidEmptyEditBox) {
  OpenUsb();
  Send("", true);
  EXPECT_EQ(LastHidPayload(), "\r");
  Send("", false);
  std::vector<uint8_t> report = usb.ReportsSeen().back();
  EXPECT_EQ(report[3], 0);  // an empty command still goes out
  EXPECT_THAT(window.LogLines(),
              ElementsAre("Send MCU command", "", "(NAK\r", "Send MCU command", "", "(NAK\r"));
}

TEST_F(SendTest, HidWithoutAnswerOrWithoutWrite) {
  OpenUsb();
  unit.Faults().silent = true;
  Send("Q1", true);
  EXPECT_EQ(dialog->lastResult, 0);
  EXPECT_THAT(window.LogLines(), ElementsAre("Send MCU command", "Q1", "Read Error."));

  window.LogList().ResetContent();
  unit.Faults().silent = false;
  usb.Device()->SetUnresponsive(true);
  Send("Q1", true);
  EXPECT_EQ(dialog->lastResult, 0);
  EXPECT_THAT(window.LogLines(), ElementsAre("Send MCU command", "Q1", "Write report error"));
}

TEST_F(SendTest, HidSessionWhoseDeviceWasNeverFound) {
  // The session kind is HID but the link's found flag is not set.
  dialog->session.sessionState = SessionState::Hid;
  dialog->OnCommand(ctl::kSend);
  EXPECT_EQ(dialog->lastResult, 0);
  EXPECT_THAT(window.LogLines(), ElementsAre("Please open device first!"));
}

TEST_F(SendTest, SerialCommandWithAndWithoutEnter) {
  OpenCom();
  Send("Q1", true);
  EXPECT_EQ(dialog->lastResult, 1);
  EXPECT_EQ(com1.AllWritten(), std::vector<uint8_t>({'Q', '1', '\r'}));
  // Written byte by byte.
  EXPECT_EQ(com1.Writes().size(), 3u);
  EXPECT_THAT(window.LogLines(), ElementsAre("Send MCU command", "Q1", kQ1Answer));

  // Without "+Enter" the unit waits for the rest of the line: no answer within 2 s.
  window.LogList().ResetContent();
  com1.ClearWrites();
  Send("V2", false);
  EXPECT_EQ(dialog->lastResult, 0);
  EXPECT_EQ(com1.AllWritten(), std::vector<uint8_t>({'V', '2'}));
  EXPECT_THAT(window.LogLines(), ElementsAre("Send MCU command", "V2", "Write report error"));
  // The data exchange put the values back into the controls.
  EXPECT_EQ(window.GetControlText(ctl::kCommandEdit), "V2");
  EXPECT_EQ(window.GetCheck(ctl::kPlusEnter), 0);
}

TEST_F(SendTest, SerialEmptyEditBoxWritesNothingButWaitsForTheLine) {
  OpenCom();
  Send("", false);
  EXPECT_TRUE(com1.Writes().empty());
  EXPECT_THAT(window.LogLines(), ElementsAre("Send MCU command", "", "Write report error"));
  window.LogList().ResetContent();
  Send("", true);
  EXPECT_EQ(com1.AllWritten(), std::vector<uint8_t>({'\r'}));
  EXPECT_THAT(window.LogLines(), ElementsAre("Send MCU command", "", "(NAK\r"));
}

TEST_F(SendTest, SerialAnswerWithoutCarriageReturnIsNotLogged) {
  OpenCom();
  com1.SetPeer([](const std::vector<uint8_t>& written, int, MemoryLine& line) {
    if (written.back() == '\r') line.Queue({'(', 'V', '2', ' ', '0', '1'});
  });
  int64_t before = virtualClock.MonotonicMs();
  Send("V2", true);
  EXPECT_EQ(dialog->lastResult, 0);
  EXPECT_THAT(window.LogLines(), ElementsAre("Send MCU command", "V2", "Write report error"));
  // Given up after the line's two seconds, not at once.
  EXPECT_GE(virtualClock.MonotonicMs() - before, 1000);
  EXPECT_LE(virtualClock.MonotonicMs() - before, 2100);
}

TEST_F(SendTest, SerialLongAnswerEndingInTheLastByteIsLoggedWhole) {
  OpenCom();
  // 127 characters and the carriage return: exactly the line's capacity.
  std::vector<uint8_t> answer(127, 'x');
  answer.push_back('\r');
  com1.SetPeer([&answer](const std::vector<uint8_t>& written, int, MemoryLine& line) {
    if (written.back() == '\r') line.Queue(answer);
  });
  Send("Q1", true);
  EXPECT_EQ(dialog->lastResult, 1);
  EXPECT_EQ(window.LogLines().back(), std::string(answer.begin(), answer.end()));

  // One byte more and the line overflows.
  answer.insert(answer.begin(), 'y');
  Send("Q1", true);
  EXPECT_EQ(dialog->lastResult, 0);
  EXPECT_EQ(window.LogLines().back(), "Write report error");
}

TEST_F(SendTest, SerialLinkClosedByAnUpdate) {
  OpenCom();
  dialog->serial.Close();
  Send("Q1", true);
  EXPECT_EQ(dialog->lastResult, 0);
  EXPECT_TRUE(com1.Writes().empty());
  EXPECT_THAT(window.LogLines(), ElementsAre("Send MCU command", "Q1", "Write report error"));
}

TEST_F(SendTest, NoSession) {
  dialog->OnCommand(ctl::kSend);
  EXPECT_EQ(dialog->lastResult, 0);
  EXPECT_THAT(window.LogLines(), ElementsAre("Please open device first!"));
}

TEST_F(SendTest, TypedTextIsCutToTheEditBoxLimit) {
  OpenUsb();
  Send(std::string(40, 'A'), false);
  EXPECT_EQ(LastHidPayload(), std::string(35, 'A'));
}

}  // namespace
}  // namespace morlane::test
