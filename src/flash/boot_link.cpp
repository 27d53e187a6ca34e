#include "flash/boot_link.h"

#include <algorithm>
#include <cstring>

#include "flash/be_bytes.h"
#include "flash/flash_texts.h"
#include "link/serial_link.h"
#include "platform/clock.h"
#include "ui/log.h"

namespace morlane {

namespace {

constexpr uint8_t kCommandMark[3] = {0x01, 0x66, 0x99};
constexpr uint8_t kUnitMark[3] = {0x01, 0x99, 0x66};
constexpr uint8_t kAccepted = 0x06;
constexpr uint8_t kRejected = 0x15;

// The running firmware needs this long to echo the selection; the bootloader to echo the
// autobaud character; the unit to take a command frame and reply to it.
constexpr int kSelectWaitMs = 155;
constexpr int kSelectPolls = 51;
constexpr int kAutobaudWaitMs = 50;
constexpr int kAutobaudPolls = 61;
constexpr int kCommandWaitMs = 100;  // waited twice
constexpr int kReplyPolls = 21;

// Unit data frames: an 8-byte header and 1 to 248 payload bytes.
constexpr int kMinUnitFrame = 9;
constexpr int kMaxUnitFrame = 256;

// The presets of the two CPUs. Word 1 of erase and closing is the sector mask: ten
// sectors on the master, four on the slave. Word 4 of the erase (1280) also bounds the
// status polls after it, that of the program (0) gives one poll.
ParameterSet Preset(uint16_t sectorMask) {
  ParameterSet set;
  set.erase = ParameterRecord{0, {sectorMask, 0, 3, 0x0500}};
  set.program = ParameterRecord{0, {0, 0, 0, 0}};
  set.verify = ParameterRecord{0, {0, 0, 0, 0}};
  set.closing = ParameterRecord{0, {sectorMask, 0, 3, 0x0500}};
  return set;
}

constexpr uint16_t kMasterSectors = 0x03FF;
constexpr uint16_t kSlaveSectors = 0x000F;

const std::array<uint16_t, 256>& CrcTable() {
  static const std::array<uint16_t, 256> table = [] {
    std::array<uint16_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t crc = i;
      for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
      t[i] = static_cast<uint16_t>(crc);
    }
    return t;
  }();
  return table;
}

}  // namespace

void BuildCommandRecord(uint8_t* out, int code, uint32_t address, uint16_t count,
                        const std::array<uint16_t, 4>& words) {
  out[0] = 0x00;
  out[1] = static_cast<uint8_t>(code);
  PutBe32(out + 2, address);
  PutBe16(out + 6, 0x0000);
  PutBe16(out + 8, count);
  for (size_t i = 0; i < words.size(); ++i) PutBe16(out + 10 + 2 * i, words[i]);
  PutBe16(out + 18, 0xFFFF);
}

BootLink::BootLink(CSerialLink& serial, Clock& clock, Window& window)
    : serial_(serial), clock_(clock), window_(window) {
  ResetBootLink();
}

void BootLink::ResetBootLink() {
  transmitSequence = 0;
  lastReceivedSequence = -1;
  frame_.fill(0);
  SetMasterParameters();
}

void BootLink::SetMasterParameters() {
  parameters = Preset(kMasterSectors);
}

void BootLink::SetSlaveParameters() {
  parameters = Preset(kSlaveSectors);
}

void BootLink::RestartSequence() {
  transmitSequence = 0;
  lastReceivedSequence = -1;
}

uint16_t BootLink::Crc16(const uint8_t* bytes, size_t length) {
  const auto& table = CrcTable();
  uint16_t crc = 0;
  for (size_t i = 0; i < length; ++i) {
    crc = static_cast<uint16_t>(table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8));
  }
  return crc;
}

int BootLink::Collect(uint8_t* at, int count, int polls) {
  int got = 0;
  for (int poll = 0; poll < polls && got < count; ++poll) {
    got += serial_.ReadAvailable(at + got, count - got);
  }
  return got;
}

void BootLink::StartLateWait() {
  lateDeadlineMs_ = clock_.MonotonicMs() + kLateAnswerMs;
}

bool BootLink::InputBeforeLateDeadline() {
  const int64_t left = lateDeadlineMs_ - clock_.MonotonicMs();
  if (Stopped()) return false;
  return serial_.WaitForInput(static_cast<int>(std::clamp<int64_t>(left, 0, kLateAnswerMs)));
}

int BootLink::CollectLate(uint8_t* at, int got, int count) {
  StartLateWait();
  while (got < count && InputBeforeLateDeadline()) {
    const int more = serial_.ReadAvailable(at + got, count - got);
    if (more <= 0) break;
    got += more;
  }
  return got;
}

int BootLink::SelectCpu(char letter) {
  const uint8_t command[3] = {'P', static_cast<uint8_t>(letter), '\r'};
  for (uint8_t byte : command) {
    if (!serial_.WriteBytes(&byte, 1)) return 0;
  }
  clock_.SleepMs(kSelectWaitMs);
  // The unit echoes the whole command; the "P" before the letter is passed over.
  for (int poll = 0; poll < kSelectPolls; ++poll) {
    uint8_t byte = 0;
    if (serial_.ReadAvailable(&byte, 1) == 1 && byte == static_cast<uint8_t>(letter)) return 1;
  }
  StartLateWait();
  while (InputBeforeLateDeadline()) {
    uint8_t byte = 0;
    if (serial_.ReadAvailable(&byte, 1) != 1) break;
    if (byte == static_cast<uint8_t>(letter)) return 1;
  }
  return 0;
}

int BootLink::ConnectInverter() {
  commandSent_ = false;
  const uint8_t autobaud = 'A';
  int connected = 0;
  if (serial_.WriteBytes(&autobaud, 1)) {
    clock_.SleepMs(kAutobaudWaitMs);
    for (int poll = 0; poll < kAutobaudPolls && !connected; ++poll) {
      uint8_t echo[2] = {};
      if (serial_.ReadAvailable(echo, 2) > 0 && echo[0] == autobaud) connected = 1;
    }
    if (!connected) StartLateWait();
    while (!connected && InputBeforeLateDeadline()) {
      uint8_t echo[2] = {};
      if (serial_.ReadAvailable(echo, 2) <= 0) break;
      if (echo[0] == autobaud) connected = 1;
    }
  }
  AppendLogLine(window_, connected   ? flashtext::kConnected
                         : Stopped() ? flashtext::kStopped
                                     : flashtext::kConnectFailed);
  return connected;
}

int BootLink::SendCommand(const uint8_t* record, int length, int code) {
  if (!record || length < 0 || length > kMaxPayload) return 0;
  const uint8_t sequence = static_cast<uint8_t>(transmitSequence & 0xFF);
  std::memcpy(frame_.data(), kCommandMark, 3);
  frame_[3] = sequence;
  PutBe16(frame_.data() + 4, static_cast<uint32_t>(length + kFrameHeader));
  PutBe16(frame_.data() + 6, 0x0000);  // host frames carry no check value
  transmitSequence = (transmitSequence + 1) % 256;
  std::memcpy(frame_.data() + kFrameHeader, record, static_cast<size_t>(length));

  // The acknowledgement of the unit's result frame to the previous command, which was
  // read without an answer. The erase opens a CPU's session: nothing precedes it; nor does
  // anything precede a verify that opens one (a check of what the CPU already holds).
  uint8_t pending[8] = {};
  const bool opensSession = code == kEraseCode || !commandSent_;
  commandSent_ = true;
  if (!opensSession) {
    pending[0] = kAccepted;
    pending[1] = 0x99;
    pending[2] = 0x66;
    pending[3] = static_cast<uint8_t>(sequence - 1);
    pending[5] = 0x08;
  }
  serial_.WriteBytes(pending, 8);
  ++counts.frames;
  if (!serial_.WriteBytes(frame_.data(), kFrameHeader)) {
    ++counts.naks;
    return 0;
  }
  serial_.WriteBytes(frame_.data() + kFrameHeader, length);

  clock_.SleepMs(kCommandWaitMs);
  clock_.SleepMs(kCommandWaitMs);

  uint8_t answer[8] = {};
  int got = Collect(answer, 8, kReplyPolls);
  if (got < 8) got = CollectLate(answer, got, 8);
  // Only bytes 1 to 3 say which frame is acknowledged; byte 0 and the rest are not read.
  if (got >= 4 && answer[1] == 0x66 && answer[2] == 0x99 && answer[3] == sequence) return length;
  ++counts.naks;
  return 0;
}

int BootLink::ReceiveResult(uint8_t* dest, int capacity) {
  return ReceiveFrame(dest, capacity, false, true);
}

int BootLink::ReceiveData(uint8_t* dest, int capacity) {
  return ReceiveFrame(dest, capacity, true, true);
}

int BootLink::PollResult(uint8_t* dest, int capacity) {
  return ReceiveFrame(dest, capacity, false, false);
}

int BootLink::ReceiveFrame(uint8_t* dest, int capacity, bool answer, bool awaitLate) {
  if (capacity > kMaxPayload || capacity < 0) return 0;
  if (!answer) frame_.fill(0);
  int header = Collect(frame_.data(), kFrameHeader, kReplyPolls);
  // A frame already begun is awaited whoever asks: its rest is on its way.
  if (header < kFrameHeader && (awaitLate || header > 0)) {
    header = CollectLate(frame_.data(), header, kFrameHeader);
  }
  if (header < kFrameHeader) return 0;
  if (std::memcmp(frame_.data(), kUnitMark, 3) != 0) return 0;
  const uint8_t sequence = frame_[3];
  // The unit sends a frame again when it missed our acknowledgement: taken once only.
  if (sequence == lastReceivedSequence) {
    ++counts.retries;
    return 0;
  }
  lastReceivedSequence = sequence;
  const int length = GetBe16(frame_.data() + 4);
  const uint16_t check = GetBe16(frame_.data() + 6);

  int copied = 0;
  bool accepted = false;
  if (length >= kMinUnitFrame && length <= kMaxUnitFrame) {
    int payload = Collect(frame_.data() + kFrameHeader, length - kFrameHeader, kReplyPolls);
    if (payload < length - kFrameHeader) {
      payload = CollectLate(frame_.data() + kFrameHeader, payload, length - kFrameHeader);
    }
    if (Crc16(frame_.data() + kFrameHeader, static_cast<size_t>(payload)) == check) {
      accepted = true;
      if (dest) {
        copied = std::min(payload, capacity);
        std::memcpy(dest, frame_.data() + kFrameHeader, static_cast<size_t>(copied));
      }
    }
  }
  if (answer) {
    uint8_t ack[8] = {
        accepted ? kAccepted : kRejected, 0x99, 0x66, sequence, 0x00, 0x08, frame_[6], frame_[7]};
    serial_.WriteBytes(ack, 8);
  }
  return copied;
}

}  // namespace morlane
