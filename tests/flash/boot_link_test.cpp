// The bootloader link byte for byte, against an in-memory unit on the virtual clock.
#include "flash/boot_link.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <numeric>

#include "app/headless_window.h"
#include "link/serial_link.h"
#include "support/memory_serial.h"
#include "support/virtual_clock.h"

namespace morlane {
namespace {

using Bytes = std::vector<uint8_t>;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

Bytes UnitFrame(uint8_t sequence, const Bytes& payload, int lengthField = -1, int crcField = -1) {
  int length = lengthField >= 0 ? lengthField : static_cast<int>(payload.size()) + 8;
  int crc = crcField >= 0 ? crcField : BootLink::Crc16(payload.data(), payload.size());
  Bytes frame(8 + payload.size());
  const uint8_t header[8] = {0x01,
                             0x99,
                             0x66,
                             sequence,
                             static_cast<uint8_t>(length >> 8),
                             static_cast<uint8_t>(length),
                             static_cast<uint8_t>(crc >> 8),
                             static_cast<uint8_t>(crc)};
  std::copy(header, header + 8, frame.begin());
  std::copy(payload.begin(), payload.end(), frame.begin() + 8);
  return frame;
}

Bytes Record(int code, uint32_t address = 0, uint16_t count = 0,
             std::array<uint16_t, 4> words = {}) {
  Bytes record(kRecordBytes);
  BuildCommandRecord(record.data(), code, address, count, words);
  return record;
}

class BootLinkTest : public ::testing::Test {
 protected:
  BootLinkTest() {
    ports.Add(1, &line);
    serial.Open(1, 19200);
  }

  // The unit acknowledges every command frame with reply byte 0 as given.
  void AcknowledgeFrames(uint8_t first = 0x06) {
    line.SetPeer([first](const Bytes& written, int, test::MemoryLine& unit) {
      if (written.size() == 8 && written[0] == 0x01 && written[1] == 0x66 && written[2] == 0x99) {
        unit.Queue({first, 0x66, 0x99, written[3], 0x00, 0x08, 0x00, 0x00});
      }
    });
  }

  test::VirtualClock clock;
  test::MemoryLine line{clock};
  test::MemoryPortFactory ports;
  CSerialLink serial{ports, clock};
  HeadlessWindow window;
  BootLink link{serial, clock, window};
};

TEST_F(BootLinkTest, EraseAsFirstCommandPutsTheDocumentedBytesOnTheLine) {
  AcknowledgeFrames();
  link.ResetBootLink();
  Bytes record = Record(kEraseCode, 0, 0, link.parameters.erase.words);
  EXPECT_EQ(link.SendCommand(record.data(), 20, kEraseCode), 20);
  EXPECT_THAT(line.Writes(),
              ElementsAre(Bytes(8, 0x00), Bytes{0x01, 0x66, 0x99, 0x00, 0x00, 0x1C, 0x00, 0x00},
                          Bytes{0x00, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                0x03, 0xFF, 0x00, 0x00, 0x00, 0x03, 0x05, 0x00, 0xFF, 0xFF}));
  EXPECT_THAT(clock.Sleeps(), ElementsAre(100, 100));
  EXPECT_EQ(link.transmitSequence, 1);
}

TEST_F(BootLinkTest, FullBlockFrameAnnouncesLength256) {
  AcknowledgeFrames();
  Bytes record = Record(kProgramCode, 0x1234, kBlockWords);
  record.resize(kMaxPayload, 0xA5);
  EXPECT_EQ(link.SendCommand(record.data(), kMaxPayload, kProgramCode), kMaxPayload);
  ASSERT_EQ(line.Writes().size(), 3u);
  const Bytes& header = line.Writes()[1];
  EXPECT_EQ(header[4], 0x01);
  EXPECT_EQ(header[5], 0x00);
  EXPECT_EQ(header[6], 0x00);
  EXPECT_EQ(header[7], 0x00);
  EXPECT_EQ(line.Writes()[2], record);
}

TEST_F(BootLinkTest, PendingAcknowledgementCarriesThePreviousSequenceAcrossTheWrap) {
  AcknowledgeFrames();
  link.transmitSequence = 254;
  Bytes record = Record(kVerifyCode);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(link.SendCommand(record.data(), 20, kVerifyCode), 20);
  EXPECT_EQ(link.transmitSequence, 1);
  const auto& w = line.Writes();
  ASSERT_EQ(w.size(), 9u);
  // The first command of a session (here a verify, which needs no erase before it) has no
  // result frame before it to acknowledge.
  EXPECT_EQ(w[0], Bytes(8, 0x00));
  EXPECT_EQ(w[3], (Bytes{0x06, 0x99, 0x66, 0xFE, 0x00, 0x08, 0x00, 0x00}));
  EXPECT_EQ(w[4][3], 0xFF);
  EXPECT_EQ(w[6], (Bytes{0x06, 0x99, 0x66, 0xFF, 0x00, 0x08, 0x00, 0x00}));
  EXPECT_EQ(w[7][3], 0x00);
}

TEST_F(BootLinkTest, OversizedRecordIsRefusedWithNothingSent) {
  AcknowledgeFrames();
  Bytes record(249, 0);
  EXPECT_EQ(link.SendCommand(record.data(), 249, kProgramCode), 0);
  EXPECT_THAT(line.Writes(), IsEmpty());
  EXPECT_EQ(link.transmitSequence, 0);
  EXPECT_THAT(clock.Sleeps(), IsEmpty());
}

TEST_F(BootLinkTest, AcknowledgementIsJudgedByBytesOneToThreeOnly) {
  Bytes record = Record(kVerifyCode);
  AcknowledgeFrames(0x15);  // byte 0 says rejected, but the frame is named: taken
  EXPECT_EQ(link.SendCommand(record.data(), 20, kVerifyCode), 20);

  // Four bytes are enough; the rest never comes.
  line.SetPeer([](const Bytes& written, int, test::MemoryLine& unit) {
    if (written.size() == 8 && written[0] == 0x01) unit.Queue({0x00, 0x66, 0x99, written[3]});
  });
  EXPECT_EQ(link.SendCommand(record.data(), 20, kVerifyCode), 20);

  // A reply naming another frame, or none at all, is no acknowledgement.
  line.SetPeer([](const Bytes& written, int, test::MemoryLine& unit) {
    if (written.size() == 8 && written[0] == 0x01) {
      unit.Queue({0x06, 0x66, 0x99, static_cast<uint8_t>(written[3] + 1), 0, 8, 0, 0});
    }
  });
  EXPECT_EQ(link.SendCommand(record.data(), 20, kVerifyCode), 0);
  line.SetPeer(nullptr);
  EXPECT_EQ(link.SendCommand(record.data(), 20, kVerifyCode), 0);
  // The short reply and the missing one are each awaited once more, bounded.
  EXPECT_EQ(clock.TotalSleptMs(), 4 * 200 + 2 * kLateAnswerMs);
}

TEST_F(BootLinkTest, AnswersLateForTheWindowAreTakenAndNoByteMore) {
  // Every answer reaches the host only after its window closed, as on a host whose
  // cores are all busy: each is still taken, and the link reads no more than the window
  // would have read.
  line.AnswerLate(250);  // after the longest window, the replies' 200 ms
  line.SetPeer([](const Bytes& written, int, test::MemoryLine& unit) {
    if (written == Bytes{'\r'}) unit.Queue({'P', 'M', '\r'});
    if (written == Bytes{'A'}) unit.Queue({'A'});
    if (written.size() == 8 && written[0] == 0x01) {
      unit.Queue({0x06, 0x66, 0x99, written[3], 0x00, 0x08, 0x00, 0x00});
      unit.Queue(UnitFrame(written[3], {0x00, 0x00}));
    }
  });
  EXPECT_EQ(link.SelectCpu('M'), 1);
  EXPECT_EQ(line.QueuedForHost(), 1u);  // the echo's CR, as the window leaves it
  line.rx_.clear();
  EXPECT_EQ(link.ConnectInverter(), 1);
  Bytes record = Record(kEraseCode);
  EXPECT_EQ(link.SendCommand(record.data(), 20, kEraseCode), 20);
  EXPECT_EQ(line.QueuedForHost(), 10u);  // the result frame stays for its own read
  uint8_t dest[8] = {};
  EXPECT_EQ(link.ReceiveResult(dest, 8), 2);
  EXPECT_EQ(line.QueuedForHost(), 0u);
  EXPECT_LT(clock.TotalSleptMs(), 155 + 50 + 200 + 4 * kLateAnswerMs);

  // A poller asks again anyway: nothing begun, nothing awaited.
  const int64_t before = clock.TotalSleptMs();
  EXPECT_EQ(link.PollResult(dest, 8), 0);
  EXPECT_EQ(clock.TotalSleptMs(), before);
}

TEST_F(BootLinkTest, ClosedPortFailsEveryExchange) {
  serial.Close();
  Bytes record = Record(kVerifyCode);
  EXPECT_EQ(link.SendCommand(record.data(), 20, kVerifyCode), 0);
  EXPECT_EQ(link.SelectCpu('M'), 0);
  EXPECT_EQ(link.ConnectInverter(), 0);
  EXPECT_THAT(line.Writes(), IsEmpty());
  EXPECT_THAT(window.LogLines(), ElementsAre("Connected inverter Fail!\n"));
}

TEST_F(BootLinkTest, ReceiveDataAcceptsAndAcknowledgesAGoodFrame) {
  Bytes payload{0x00, 0x00, 0x12, 0x34, 0x56};
  Bytes frame = UnitFrame(0x07, payload);
  line.Queue(frame);
  uint8_t dest[248] = {};
  EXPECT_EQ(link.ReceiveData(dest, 248), 5);
  EXPECT_THAT(Bytes(dest, dest + 5), ElementsAreArray(payload));
  EXPECT_THAT(line.Writes(),
              ElementsAre(Bytes{0x06, 0x99, 0x66, 0x07, 0x00, 0x08, frame[6], frame[7]}));
  EXPECT_EQ(link.lastReceivedSequence, 7);

  // Cut to the capacity; a capacity over 248 is refused before anything is read.
  line.Queue(UnitFrame(0x08, payload));
  EXPECT_EQ(link.ReceiveResult(dest, 2), 2);
  line.Queue(UnitFrame(0x09, payload));
  EXPECT_EQ(link.ReceiveResult(dest, 249), 0);
  EXPECT_EQ(line.QueuedForHost(), frame.size());
}

TEST_F(BootLinkTest, FramesOfLength8Or257AreRejectedWith15) {
  uint8_t dest[248];
  for (int length : {8, 257}) {
    line.ClearWrites();
    Bytes frame = UnitFrame(static_cast<uint8_t>(length), {0x00, 0x00}, length, 0xC1C2);
    line.Queue(frame);
    EXPECT_EQ(link.ReceiveData(dest, 248), 0) << length;
    EXPECT_THAT(line.Writes(), ElementsAre(Bytes{0x15, 0x99, 0x66, static_cast<uint8_t>(length),
                                                 0x00, 0x08, 0xC1, 0xC2}))
        << length;
    // Nothing is read past the header of a rejected length: no resynchronisation.
    EXPECT_EQ(line.QueuedForHost(), 2u);
    line.rx_.clear();
  }
}

TEST_F(BootLinkTest, CrcMismatchIsRejectedAndARepeatIgnoredWithoutAnswer) {
  uint8_t dest[248];
  Bytes payload{0x00, 0x00};
  uint16_t crc = BootLink::Crc16(payload.data(), payload.size());
  line.Queue(UnitFrame(0x03, payload, -1, crc ^ 1));
  EXPECT_EQ(link.ReceiveData(dest, 248), 0);
  ASSERT_EQ(line.Writes().size(), 1u);
  EXPECT_EQ(line.Writes()[0][0], 0x15);

  line.ClearWrites();
  line.Queue(UnitFrame(0x04, payload));
  EXPECT_EQ(link.ReceiveData(dest, 248), 2);
  line.ClearWrites();
  line.Queue(UnitFrame(0x04, payload));
  EXPECT_EQ(link.ReceiveData(dest, 248), 0);
  EXPECT_THAT(line.Writes(), IsEmpty());
}

TEST_F(BootLinkTest, BadHeaderOrShortHeaderYieldsNothingAndNoAnswer) {
  uint8_t dest[248];
  line.Queue({0x01, 0x66, 0x99, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00});
  EXPECT_EQ(link.ReceiveData(dest, 248), 0);
  EXPECT_EQ(line.QueuedForHost(), 2u);  // the bytes after the bad header stay
  line.rx_.clear();
  line.Queue({0x01, 0x99, 0x66});
  EXPECT_EQ(link.ReceiveData(dest, 248), 0);
  EXPECT_EQ(line.QueuedForHost(), 0u);  // an incomplete header is dropped
  EXPECT_THAT(line.Writes(), IsEmpty());
}

TEST_F(BootLinkTest, PayloadThatNeverArrivesCountsOnlyWhenItsCrcMatches) {
  uint8_t dest[248];
  Bytes sent{0x00, 0x00, 0x01};
  line.Queue(UnitFrame(0x01, sent, 20));  // announces 12 bytes, 3 come
  EXPECT_EQ(link.ReceiveResult(dest, 248), 3);
  line.Queue(UnitFrame(0x02, sent, 20, 0x1111));
  EXPECT_EQ(link.ReceiveResult(dest, 248), 0);
}

TEST_F(BootLinkTest, RestartedSequenceForgetsTheLastReceivedNumber) {
  uint8_t dest[248];
  line.Queue(UnitFrame(0x05, {0x00, 0x00}));
  EXPECT_EQ(link.ReceiveResult(dest, 248), 2);
  link.transmitSequence = 9;
  link.RestartSequence();
  EXPECT_EQ(link.transmitSequence, 0);
  line.Queue(UnitFrame(0x05, {0x00, 0x00}));
  EXPECT_EQ(link.ReceiveResult(dest, 248), 2);
}

TEST_F(BootLinkTest, CrcCheckValue) {
  const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(BootLink::Crc16(digits, sizeof digits), 0xBB3D);
  EXPECT_EQ(BootLink::Crc16(digits, 0), 0x0000);
}

TEST_F(BootLinkTest, CpuSelectionWaitsForTheLetterInTheEcho) {
  line.SetPeer([](const Bytes& written, int, test::MemoryLine& unit) {
    if (written == Bytes{'\r'}) unit.Queue({'P', 'M', '\r'});
  });
  EXPECT_EQ(link.SelectCpu('M'), 1);
  EXPECT_THAT(line.Writes(), ElementsAre(Bytes{'P'}, Bytes{'M'}, Bytes{'\r'}));
  EXPECT_THAT(clock.Sleeps(), ElementsAre(155));
  line.rx_.clear();
  // The echo of another letter, or none: failed after the 51 polls.
  EXPECT_EQ(link.SelectCpu('S'), 0);
  line.SetPeer(nullptr);
  line.rx_.clear();
  EXPECT_EQ(link.SelectCpu('M'), 0);
}

TEST_F(BootLinkTest, AutobaudHandshakeLogsItsOutcome) {
  line.SetPeer([](const Bytes& written, int, test::MemoryLine& unit) {
    if (written == Bytes{'A'}) unit.Queue({'A'});
  });
  EXPECT_EQ(link.ConnectInverter(), 1);
  EXPECT_THAT(clock.Sleeps(), ElementsAre(50));
  line.SetPeer([](const Bytes&, int, test::MemoryLine& unit) { unit.Queue({'B', 'A'}); });
  EXPECT_EQ(link.ConnectInverter(), 0);
  EXPECT_THAT(window.LogLines(),
              ElementsAre("Connected inverter Sucessful!\n", "Connected inverter Fail!\n"));
}

TEST_F(BootLinkTest, PresetsOfTheTwoCpus) {
  link.SetSlaveParameters();
  EXPECT_THAT(link.parameters.erase.words, ElementsAre(0x000F, 0, 3, 0x0500));
  EXPECT_THAT(link.parameters.closing.words, ElementsAre(0x000F, 0, 3, 0x0500));
  link.transmitSequence = 4;
  link.SetMasterParameters();
  EXPECT_EQ(link.transmitSequence, 4);
  EXPECT_THAT(link.parameters.erase.words, ElementsAre(0x03FF, 0, 3, 0x0500));
  EXPECT_THAT(link.parameters.program.words, ElementsAre(0, 0, 0, 0));
  EXPECT_THAT(link.parameters.verify.words, ElementsAre(0, 0, 0, 0));
  link.lastReceivedSequence = 3;
  link.SetSlaveParameters();
  link.ResetBootLink();
  EXPECT_EQ(link.transmitSequence, 0);
  EXPECT_EQ(link.lastReceivedSequence, -1);
  EXPECT_THAT(link.parameters.erase.words, ElementsAre(0x03FF, 0, 3, 0x0500));
  EXPECT_EQ(std::accumulate(link.FrameBuffer().begin(), link.FrameBuffer().end(), 0), 0);
}

}  // namespace
}  // namespace morlane
