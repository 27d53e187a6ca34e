// The unit's answers to its service commands, on the serial line and on the USB side.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "sim/sim_unit.h"
#include "sim/sim_usb.h"

namespace morlane::sim {
namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;

const char* const kCommands[] = {"Q1",  "Lf?", "Bl?", "V",  "V2",  "V3", "BTUN",
                                 "Si?", "BRR", "UAS", "CF", "CF2", "FWV"};

// Everything the unit emits on its serial line for the bytes given, one write per byte as
// the tool sends them.
std::vector<SerialAnswer> SerialExchange(SimUnit& unit, const std::string& bytes) {
  std::vector<SerialAnswer> answers;
  for (char c : bytes) {
    uint8_t byte = static_cast<uint8_t>(c);
    unit.OnSerialBytes(&byte, 1, 9600, [&](SerialAnswer a) { answers.push_back(std::move(a)); });
  }
  return answers;
}

std::string Text(const std::vector<uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// One reply read from the USB side: the 64 payload bytes of the input reports.
std::string ReadUsbReply(InProcessHidDevice& device, int timeoutMs) {
  std::vector<uint8_t> report(65);
  if (device.HostRead(report.data(), 65, timeoutMs) != 65) return {};
  std::string text(report.begin() + 1, report.end());
  return text.substr(0, text.find('\0'));
}

int WriteUsbCommand(InProcessHidDevice& device, const std::string& text) {
  std::vector<uint8_t> report(69, 0);
  report[1] = 0xCC;
  report[2] = 0x99;
  report[3] = static_cast<uint8_t>(text.size());
  std::copy(text.begin(), text.end(), report.begin() + 4);
  return device.HostWrite(report.data(), 69, 500);
}

TEST(SimServiceAnswers, EveryCommandIsAnsweredOnTheSerialLine) {
  SimUnit unit;
  for (const char* command : kCommands) {
    std::vector<SerialAnswer> answers = SerialExchange(unit, std::string(command) + "\r");
    ASSERT_EQ(answers.size(), 1u) << command;
    std::string answer = Text(answers[0].bytes);
    EXPECT_THAT(answer, StartsWith("(")) << command;
    EXPECT_EQ(answer.find('\r'), answer.size() - 1) << command;
    EXPECT_LT(answer.size(), 64u) << command;  // fits one USB reply with its zero
    EXPECT_NE(answer, "(NAK\r") << command;
  }
  EXPECT_EQ(Text(SerialExchange(unit, "Q1\r")[0].bytes),
            "(230.1 229.8 230.0 012 50.0 27.2 --.- 00000000\r");
  EXPECT_EQ(Text(SerialExchange(unit, "V2\r")[0].bytes), "(V2 01.20\r");
  EXPECT_EQ(Text(SerialExchange(unit, "q1\r")[0].bytes), "(NAK\r");
  EXPECT_EQ(Text(SerialExchange(unit, "\r")[0].bytes), "(NAK\r");
  // No answer before the carriage return.
  EXPECT_TRUE(SerialExchange(unit, "V3").empty());
  EXPECT_EQ(Text(SerialExchange(unit, "\r")[0].bytes), "(V3 03.40\r");
}

TEST(SimServiceAnswers, SerialDelayAndSilence) {
  SimUnit unit;
  unit.Faults().answerDelayMs = 750;
  std::vector<SerialAnswer> answers = SerialExchange(unit, "V\r");
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].delayMs, 750);
  unit.Faults().silent = true;
  EXPECT_TRUE(SerialExchange(unit, "Q1\r").empty());
  // A silent unit still hears the command.
  EXPECT_THAT(unit.ServiceCommandsSeen(), ElementsAre("V", "Q1"));
}

TEST(SimServiceAnswers, UsbAnswersWithAndWithoutCarriageReturn) {
  SimUnit unit;
  SimUsb usb(unit, RealClock());
  InProcessHidDevice& device = *usb.Device();
  for (const char* command : kCommands) {
    ASSERT_EQ(WriteUsbCommand(device, std::string(command) + "\r"), 69);
    SerialAnswer serial = SerialExchange(unit, std::string(command) + "\r")[0];
    EXPECT_EQ(ReadUsbReply(device, 0), Text(serial.bytes)) << command;
  }
  WriteUsbCommand(device, "V2");
  EXPECT_EQ(ReadUsbReply(device, 0), "(V2 01.20\r");
  WriteUsbCommand(device, "");
  EXPECT_EQ(ReadUsbReply(device, 0), "(NAK\r");
  unit.Faults().silent = true;
  WriteUsbCommand(device, "Q1\r");
  EXPECT_EQ(ReadUsbReply(device, 50), "");
}

TEST(SimServiceAnswers, UsbDelayedAnswerDoesNotHoldUpTheWriteAndKeepsItsPlace) {
  using Clock = std::chrono::steady_clock;
  SimUnit unit;
  SimUsb usb(unit, RealClock());
  InProcessHidDevice& device = *usb.Device();
  unit.Faults().answerDelayMs = 300;
  Clock::time_point start = Clock::now();
  ASSERT_EQ(WriteUsbCommand(device, "V2\r"), 69);
  unit.Faults().answerDelayMs = 0;
  ASSERT_EQ(WriteUsbCommand(device, "V3\r"), 69);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(200));
  // Nothing yet: the first answer is still on its way and the second waits behind it.
  EXPECT_EQ(ReadUsbReply(device, 50), "");
  EXPECT_EQ(ReadUsbReply(device, 2000), "(V2 01.20\r");
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(290));
  EXPECT_EQ(ReadUsbReply(device, 500), "(V3 03.40\r");
  // Once the queue is empty, an undelayed answer is there at once again.
  WriteUsbCommand(device, "V\r");
  EXPECT_EQ(ReadUsbReply(device, 0), "(V 02.15\r");
}

TEST(SimServiceAnswers, UsbSideGoesWithAnswersStillDue) {
  SimUnit unit;
  auto usb = std::make_unique<SimUsb>(unit, RealClock());
  std::shared_ptr<InProcessHidDevice> device = usb->Device();
  unit.Faults().answerDelayMs = 5000;
  WriteUsbCommand(*device, "Q1\r");
  usb.reset();  // joins its delivery at once, without the 5 s
  // The device outlives the unit's side; what it is written now goes nowhere.
  EXPECT_EQ(WriteUsbCommand(*device, "Q1\r"), 69);
  EXPECT_EQ(ReadUsbReply(*device, 20), "");
}

}  // namespace
}  // namespace morlane::sim
