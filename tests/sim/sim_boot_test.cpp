// The simulated CPUs' bootloaders, fed with frames built here byte by byte.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim/sim_unit.h"

namespace morlane::sim {
namespace {

using Bytes = std::vector<uint8_t>;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;

uint16_t Crc(const Bytes& data) {
  uint16_t crc = 0;
  for (uint8_t byte : data) {
    crc ^= byte;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

void Put16(Bytes& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

Bytes Record(uint8_t code, uint32_t address, uint16_t count, std::array<uint16_t, 4> words,
             const Bytes& data = {}) {
  Bytes r{0x00, code};
  Put16(r, address >> 16);
  Put16(r, address & 0xFFFF);
  Put16(r, 0);
  Put16(r, count);
  for (uint16_t w : words) Put16(r, w);
  Put16(r, 0xFFFF);
  r.insert(r.end(), data.begin(), data.end());
  return r;
}

// Pending acknowledgement, header and record, as the host puts them on the line.
Bytes Command(uint8_t sequence, const Bytes& record) {
  Bytes out;
  out.reserve(16 + record.size());
  if (record[1] == 10) {
    for (int i = 0; i < 8; ++i) out.push_back(0x00);
  } else {
    for (uint8_t b : {0x06, 0x99, 0x66}) out.push_back(b);
    out.push_back(static_cast<uint8_t>(sequence - 1));
    for (uint8_t b : {0x00, 0x08, 0x00, 0x00}) out.push_back(b);
  }
  for (uint8_t b : {0x01, 0x66, 0x99}) out.push_back(b);
  out.push_back(sequence);
  Put16(out, static_cast<uint32_t>(record.size() + 8));
  Put16(out, 0);
  for (uint8_t b : record) out.push_back(b);
  return out;
}

constexpr std::array<uint16_t, 4> kMasterWords = {0x03FF, 0, 3, 0x0500};
constexpr std::array<uint16_t, 4> kSlaveWords = {0x000F, 0, 3, 0x0500};

class SimBootTest : public ::testing::Test {
 protected:
  void Send(const Bytes& bytes, int baud = 19200) {
    unit.OnSerialBytes(bytes.data(), bytes.size(), baud,
                       [this](SerialAnswer answer) { answers.push_back(answer); });
  }
  void Select(char cpu) {
    Send({'P', static_cast<uint8_t>(cpu), '\r'}, 9600);
    Send({'A'});
    answers.clear();
  }
  Bytes Result(uint8_t sequence, const Bytes& payload) {
    Bytes out{0x01, 0x99, 0x66, sequence};
    Put16(out, static_cast<uint32_t>(payload.size() + 8));
    Put16(out, Crc(payload));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
  }
  Bytes Reply(uint8_t sequence) { return {0x06, 0x66, 0x99, sequence, 0x00, 0x08, 0x00, 0x00}; }
  // The status word of the result frame to the last command, if it was answered.
  int LastStatus() {
    if (answers.size() < 2) return -1;
    const Bytes& result = answers.back().bytes;
    return result[8] << 8 | result[9];
  }

  SimUnit unit;
  std::vector<SerialAnswer> answers;
};

TEST_F(SimBootTest, CrcOfTheseFramesIsTheLinksCrc) {
  EXPECT_EQ(Crc(Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '9'}), 0xBB3D);
}

TEST_F(SimBootTest, AutobaudIsAnsweredOnlyAt19200AfterTheCpuWasHandedOver) {
  Send({'A'});
  EXPECT_THAT(answers, IsEmpty());
  Send({'P', 'S', '\r'}, 9600);
  ASSERT_THAT(answers, SizeIs(1));
  EXPECT_EQ(answers[0].bytes, (Bytes{'P', 'S', '\r'}));
  EXPECT_EQ(unit.SelectedCpu(), 'S');
  Send({'A'}, 9600);
  EXPECT_THAT(answers, SizeIs(1));
  Send({'A'}, 19200);
  ASSERT_THAT(answers, SizeIs(2));
  EXPECT_EQ(answers[1].bytes, Bytes{'A'});
}

TEST_F(SimBootTest, ProgrammingSessionAnswersEachCommandWithItsSequence) {
  Select('M');
  Send(Command(7, Record(10, 0, 0, kMasterWords)));
  ASSERT_THAT(answers, SizeIs(2));
  EXPECT_EQ(answers[0].bytes, Reply(7));
  EXPECT_EQ(answers[1].bytes, Result(7, {0x00, 0x00}));
  EXPECT_EQ(answers[1].delayMs, 10 * 40);  // ten sectors take their time
  EXPECT_EQ(unit.Flash('M').eraseCount, 1);

  Send(Command(8, Record(11, 0x2001, 2, {}, {0x12, 0x34, 0xF0, 0x0F})));
  EXPECT_EQ(answers.back().bytes, Result(8, {0x00, 0x00}));
  EXPECT_EQ(unit.Flash('M').words[0x2001], 0x1234);
  EXPECT_EQ(unit.Flash('M').words[0x2002], 0xF00F);
  EXPECT_EQ(unit.Flash('M').words[0x2003], 0xFFFF);

  Send(Command(9, Record(12, 0x2001, 2, {0, 0, 0, 0x0243})));
  EXPECT_EQ(LastStatus(), 0);
  Send(Command(10, Record(12, 0x2001, 2, {0, 0, 0, 0x0244})));
  EXPECT_EQ(LastStatus(), 4);
  // Programming words that are not erased is refused.
  Send(Command(11, Record(11, 0x2002, 1, {}, {0x00, 0x00})));
  EXPECT_EQ(LastStatus(), 2);
  EXPECT_EQ(unit.Flash('M').words[0x2002], 0xF00F);
  Send(Command(12, Record(11, 0x14000, 1, {}, {0x00, 0x00})));
  EXPECT_EQ(LastStatus(), 3);

  Send(Command(13, Record(13, 0, 0, kMasterWords)));
  ASSERT_GE(answers.back().bytes.size(), 10u);
  EXPECT_EQ(LastStatus(), 0);
  EXPECT_TRUE(unit.Flash('M').closed);
  const Bytes& result = answers.back().bytes;
  Send({0x06, 0x99, 0x66, 13, 0x00, 0x08, result[6], result[7]});
  EXPECT_TRUE(unit.Flash('M').closingAcknowledged);
  EXPECT_THAT(unit.Flash('M').errors, IsEmpty());
  EXPECT_EQ(unit.Flash('S').eraseCount, 0);
}

TEST_F(SimBootTest, MalformedFramesAreRecordedAndLeftUnanswered) {
  struct Case {
    const char* what;
    Bytes bytes;
  };
  Bytes wrongAck = Command(1, Record(11, 0, 1, {}, {0, 1}));
  wrongAck[3] = 0x07;
  Bytes checkField = Command(1, Record(11, 0, 1, {}, {0, 1}));
  checkField[15] = 0x01;
  Bytes noFfff = Command(1, Record(11, 0, 1, {}, {0, 1}));
  noFfff[8 + 8 + 19] = 0xFE;
  Bytes shortData = Command(1, Record(11, 0, 3, {}, {0, 1}));
  const std::vector<Case> cases = {
      {"pending ack naming another frame", wrongAck},
      {"check field", checkField},
      {"no FFFF at offset 18", noFfff},
      {"count and data disagree", shortData},
      {"slave preset on the master", Command(1, Record(10, 0, 0, kSlaveWords))},
      {"erase after a plain ack",
       [] {
         Bytes b = Command(1, Record(10, 0, 0, kMasterWords));
         b[0] = 0x06;
         return b;
       }()},
      {"program words not 0", Command(1, Record(11, 0, 1, {1, 0, 0, 0}, {0, 1}))},
      {"unknown code", Command(1, Record(14, 0, 0, {}))},
  };
  for (const Case& c : cases) {
    Select('M');
    size_t errors = unit.Flash('M').errors.size();
    Send(c.bytes);
    EXPECT_THAT(answers, IsEmpty()) << c.what;
    EXPECT_EQ(unit.Flash('M').errors.size(), errors + 1) << c.what;
  }
  // A frame whose header is not a command's cannot be found again in the stream.
  Select('M');
  Send({0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x99, 0x66, 0, 0, 0x1C, 0, 0});
  EXPECT_THAT(answers, IsEmpty());
  EXPECT_EQ(unit.Flash('M').errors.back(), "bad command header");
}

TEST_F(SimBootTest, SequenceMustRunOnUntilTheCpuIsHandedOverAgain) {
  Select('S');
  Send(Command(200, Record(10, 0, 0, kSlaveWords)));
  Send(Command(201, Record(12, 0, 1, {0, 0, 0, 0xFFFF})));
  EXPECT_EQ(LastStatus(), 0);
  answers.clear();
  Send(Command(203, Record(12, 0, 1, {0, 0, 0, 0xFFFF})));
  EXPECT_THAT(answers, IsEmpty());
  // Handed over again: the first command sets the count anew.
  Select('S');
  Send(Command(0, Record(10, 0, 0, kSlaveWords)));
  EXPECT_EQ(LastStatus(), 0);
  Send(Command(1, Record(12, 0, 1, {0, 0, 0, 0xFFFF})));
  EXPECT_EQ(LastStatus(), 0);
}

TEST_F(SimBootTest, ClosingReplyMustBeAcknowledgedWithItsOwnCheckBytes) {
  Select('S');
  Send(Command(0, Record(10, 0, 0, kSlaveWords)));
  Send(Command(1, Record(13, 0, 0, kSlaveWords)));
  Send({0x06, 0x99, 0x66, 0x01, 0x00, 0x08, 0x00, 0x00});
  EXPECT_FALSE(unit.Flash('S').closingAcknowledged);
  EXPECT_EQ(unit.Flash('S').errors.back(), "wrong acknowledgement of the closing reply");
}

TEST_F(SimBootTest, LastAcknowledgementBeforeTheSwitchTo9600GoesToTheBootloader) {
  Select('M');
  Send(Command(0, Record(10, 0, 0, kMasterWords)));
  Send(Command(1, Record(13, 0, 0, kMasterWords)));
  Bytes result = answers.back().bytes;
  answers.clear();
  // The host's last acknowledgement and its next selection, read in one piece after the
  // speed changed.
  Bytes piece{0x06, 0x99, 0x66, 0x01, 0x00, 0x08, result[6], result[7], 'P', 'S', '\r'};
  Send(piece, 9600);
  EXPECT_TRUE(unit.Flash('M').closingAcknowledged);
  EXPECT_EQ(unit.SelectedCpu(), 'S');
  ASSERT_THAT(answers, SizeIs(1));
  EXPECT_EQ(answers[0].bytes, (Bytes{'P', 'S', '\r'}));
  // Without an acknowledgement in front, the selection is the firmware's alone.
  Select('M');
  Send(Command(0, Record(10, 0, 0, kMasterWords)));
  Send(Command(1, Record(13, 0, 0, kMasterWords)));
  Send({'P', 'M', '\r'}, 9600);
  EXPECT_EQ(answers.back().bytes, (Bytes{'P', 'M', '\r'}));
}

TEST_F(SimBootTest, FaultSwitches) {
  unit.Faults().refuseErase = true;
  Select('M');
  Send(Command(0, Record(10, 0, 0, kMasterWords)));
  EXPECT_EQ(LastStatus(), 1);
  unit.Faults().refuseErase = false;

  unit.Faults().verifyMismatch = true;
  Send(Command(1, Record(12, 0, 1, {0, 0, 0, 0x5A5A})));
  EXPECT_EQ(LastStatus(), 4);
  unit.Faults().verifyMismatch = false;

  unit.Faults().corruptResultOfFrame = 2;
  Select('M');
  Send(Command(0, Record(10, 0, 0, kMasterWords)));
  Send(Command(1, Record(12, 0, 1, {0, 0, 0, 0xFFFF})));
  Bytes result = answers.back().bytes;
  EXPECT_NE((result[6] << 8 | result[7]), Crc(Bytes(result.begin() + 8, result.end())));
  unit.Faults().corruptResultOfFrame = -1;

  unit.Faults().dropAcksAfterFrames = 1;
  Select('M');
  Send(Command(0, Record(10, 0, 0, kMasterWords)));
  EXPECT_THAT(answers, SizeIs(2));
  Send(Command(1, Record(11, 0, 1, {}, {0x00, 0x07})));
  EXPECT_THAT(answers, SizeIs(2));
  EXPECT_EQ(unit.Flash('M').words[0], 0x0007);  // carried out, only the answers are lost
  unit.Faults().dropAcksAfterFrames = -1;

  int drops = 0;
  unit.dropLine = [&drops] { ++drops; };
  unit.Faults().lineGoneAfterProgramFrames = 1;
  Select('M');
  Send(Command(0, Record(10, 0, 0, kMasterWords)));
  Send(Command(1, Record(11, 0, 1, {}, {0x00, 0x01})));
  EXPECT_EQ(drops, 0);
  Send(Command(2, Record(11, 1, 1, {}, {0x00, 0x02})));
  EXPECT_EQ(drops, 1);
  EXPECT_EQ(unit.Flash('M').words[1], 0xFFFF);

  // A slow unit: the acknowledgement and the result come late, the erase's later still.
  unit.Faults().replyDelayMs = 150;
  Select('M');
  Send(Command(0, Record(10, 0, 0, kMasterWords)));
  ASSERT_THAT(answers, SizeIs(2));
  EXPECT_EQ(answers[0].delayMs, 150);
  EXPECT_EQ(answers[1].delayMs, 10 * 40 + 150);
  unit.Faults().replyDelayMs = 0;

  unit.Faults().noAutobaudEcho = true;
  answers.clear();
  Send({'P', 'M', '\r'}, 9600);
  Send({'A'});
  EXPECT_THAT(answers, ElementsAre(::testing::Field(&SerialAnswer::bytes, Bytes{'P', 'M', '\r'})));
}

}  // namespace
}  // namespace morlane::sim
