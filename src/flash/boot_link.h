#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace morlane {

class CSerialLink;
class Clock;
class Window;

// Command codes of the CPUs' bootloader.
inline constexpr int kEraseCode = 10;
inline constexpr int kProgramCode = 11;
inline constexpr int kVerifyCode = 12;
inline constexpr int kClosingCode = 13;

inline constexpr int kMaxPayload = 248;  // command record plus data, one frame
inline constexpr int kFrameHeader = 8;
inline constexpr int kFrameBuffer = 260;  // header and payload, with room to spare
inline constexpr int kRecordBytes = 20;   // the fixed part of every command record
inline constexpr int kBlockWords = 114;   // 20 + 2 x 114 = 248: a full frame
inline constexpr int kBlockBytes = 2 * kBlockWords;

// The windows of the selection, the handshake and the replies are the link's own and are kept: an
// answer in time is read as it always was, at the same moment. An answer that is not wholly there
// when its window closes is awaited this much longer on the port, and taken the moment it is
// complete: a host whose cores are all busy hands the bytes it received to the reader late (the
// kernel's delivery of serial input waits its turn like any other work; 50 to 300 ms were
// seen with every core taken), and a unit that answered has not failed. No byte more is
// read than the window would have read, so what stays queued is as before; a unit that
// does not answer is known this much later. Choice: 500 ms, above the longest delay seen.
inline constexpr int kLateAnswerMs = 500;

// One command's delay and its four parameter words, as the presets fill them.
struct ParameterRecord {
  int delayMs = 0;
  std::array<uint16_t, 4> words{};
};

// What the link itself saw of one CPU's session, for the run record: command frames sent,
// result frames the unit sent again (it repeats one whose acknowledgement it missed), and
// command frames whose acknowledgement was missing or wrong. The host sends each command
// frame once; a frame the unit does not acknowledge fails its step.
struct LinkCounts {
  int frames = 0;
  int retries = 0;
  int naks = 0;
};

struct ParameterSet {
  ParameterRecord erase;
  ParameterRecord program;
  ParameterRecord verify;
  ParameterRecord closing;
};

// Writes the 20-byte command record at out: 00, code, word address, reserved 0000, word
// count, the four parameter words (the fourth carries the checksum of a verify), FFFF.
void BuildCommandRecord(uint8_t* out, int code, uint32_t address, uint16_t count,
                        const std::array<uint16_t, 4>& words);

// The host's side of the CPUs' bootloader link: the CPU selection at 9600 baud, the
// autobaud handshake and the framed, acknowledged commands at 19200 baud. It keeps the
// sequence numbers and the fixed frame buffers; the port's speed and its opening and
// closing belong to the programming sequence.
class BootLink {
 public:
  BootLink(CSerialLink& serial, Clock& clock, Window& window);

  // Transmit sequence 0, last received -1, frame buffer cleared, master preset.
  void ResetBootLink();
  void SetMasterParameters();
  void SetSlaveParameters();
  // The transmit sequence starts again at 0 (the slave CPU was selected). The unit's
  // result frames carry the sequence byte of the command they answer, so the last
  // received number is forgotten too: otherwise a correct result could be taken for a
  // repeat of one from the previous CPU.
  void RestartSequence();

  // "P", letter, CR; 1 when the unit echoes the letter.
  int SelectCpu(char letter);
  // "A" and its echo; logs the outcome.
  int ConnectInverter();

  // When set and true, the run was told to stop now (a station's second Ctrl-C), and the
  // port fails every call from then on: a failure that follows is the stop's, and is said
  // as a stop, not as a unit that does not answer.
  const std::atomic<bool>* stopNow = nullptr;
  bool Stopped() const { return stopNow && stopNow->load(); }
  // One command frame after the pending acknowledgement; returns length when the unit
  // acknowledged it, 0 otherwise (also for a record over 248 bytes, which is not sent).
  int SendCommand(const uint8_t* record, int length, int code);
  // One unit data frame; the payload bytes copied to dest (cut to capacity), 0 on any
  // failure. ReceiveResult leaves the frame unanswered (the next command's pending
  // acknowledgement answers it); ReceiveData answers it with 06 or 15. Both await a frame
  // that is late; PollResult is ReceiveResult for a caller that asks again and again (the
  // erase's status), which awaits only a frame already begun.
  int ReceiveResult(uint8_t* dest, int capacity);
  int ReceiveData(uint8_t* dest, int capacity);
  int PollResult(uint8_t* dest, int capacity);

  // CRC-16 with the reflected polynomial 0xA001, initial value 0, no final xor.
  static uint16_t Crc16(const uint8_t* bytes, size_t length);

  int transmitSequence = 0;
  int lastReceivedSequence = -1;
  ParameterSet parameters;
  LinkCounts counts;
  // Where the procedures build their command records and take the replies from.
  std::array<uint8_t, kMaxPayload> commandRecord{};
  std::array<uint8_t, kMaxPayload> reply{};

  const std::array<uint8_t, kFrameBuffer>& FrameBuffer() const { return frame_; }

 private:
  int ReceiveFrame(uint8_t* dest, int capacity, bool answer, bool awaitLate);
  // Up to polls non-waiting reads until count bytes are in at; returns how many came.
  int Collect(uint8_t* at, int count, int polls);
  // Goes on with a Collect that came short (got of count bytes), waiting on the port for
  // the rest until the late-answer deadline; returns how many there are now.
  int CollectLate(uint8_t* at, int got, int count);
  // Waits on the port for input until the late-answer deadline that starts now.
  void StartLateWait();
  bool InputBeforeLateDeadline();

  CSerialLink& serial_;
  Clock& clock_;
  Window& window_;
  std::array<uint8_t, kFrameBuffer> frame_{};
  // Whether a command went out since the last handshake: the first one has no result frame
  // before it to acknowledge.
  bool commandSent_ = false;
  int64_t lateDeadlineMs_ = 0;
};

}  // namespace morlane
