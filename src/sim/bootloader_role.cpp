// A CPU's bootloader on the serial line at 19200 baud, as strict as the real one: it
// takes the autobaud "A", then checks every command frame (the pending acknowledgement
// before it, header, sequence byte, length, check field, record fields, the preset
// words of its CPU) and answers a good one with an 8-byte reply and a result frame that
// carries the command's sequence byte. Anything wrong is recorded and left unanswered.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/sim_unit.h"

namespace morlane::sim {

namespace {

enum : uint8_t { kErase = 10, kProgram = 11, kVerify = 12, kClosing = 13 };

// Status words of the result frames.
constexpr uint16_t kOk = 0x0000;
constexpr uint16_t kEraseRefused = 0x0001;
constexpr uint16_t kNotErased = 0x0002;
constexpr uint16_t kOutsideFlash = 0x0003;
constexpr uint16_t kSumMismatch = 0x0004;

constexpr int kEraseMsPerSector = 40;
constexpr size_t kMaxErrors = 100;

uint16_t Be16(const uint8_t* at) {
  return static_cast<uint16_t>(at[0] << 8 | at[1]);
}
uint32_t Be32(const uint8_t* at) {
  return uint32_t{at[0]} << 24 | uint32_t{at[1]} << 16 | uint32_t{at[2]} << 8 | at[3];
}
void Push16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

// CRC-16, reflected 0x8005, initial 0, computed bit by bit.
uint16_t Crc(const uint8_t* data, size_t n) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

class BootloaderRole : public SerialRole {
 public:
  BootloaderRole(SimUnit& unit, char cpu) : unit_(unit), cpu_(cpu) {}

  void Reset() override {
    stage_ = Stage::Autobaud;
    in_.clear();
    haveSequence_ = false;
    frames_ = 0;
    programFrames_ = 0;
  }

  size_t ClaimEarlyBytes(const uint8_t* data, size_t n) const override {
    if (stage_ != Stage::ClosingAck || closingAck_.size() != 8) return 0;
    size_t needed = 8 - std::min<size_t>(8, in_.size());
    if (n < needed) return 0;
    // Only the rest of the acknowledgement it awaits, byte for byte.
    for (size_t i = 0; i < needed; ++i) {
      if (data[i] != closingAck_[in_.size() + i]) return 0;
    }
    return needed;
  }

  void OnBytes(const uint8_t* data, size_t n, const SerialEmit& emit) override {
    // A silent unit answers nothing, in its bootloaders as in its firmware.
    if (unit_.Faults().silent) return;
    in_.insert(in_.end(), data, data + n);
    while (Step(emit)) {
    }
  }

 private:
  enum class Stage { Autobaud, Commands, ClosingAck, Closed };

  CpuFlash& Flash() { return unit_.Flash(cpu_); }
  uint16_t SectorMask() const { return cpu_ == 'S' ? 0x000F : 0x03FF; }

  void Error(const std::string& what) {
    CpuFlash& flash = Flash();
    if (flash.errors.size() < kMaxErrors) flash.errors.push_back(what);
  }

  // Handles what the buffer holds; true when it consumed something and may go on.
  bool Step(const SerialEmit& emit) {
    switch (stage_) {
      case Stage::Autobaud:
        return Autobaud(emit);
      case Stage::Commands:
        return Command(emit);
      case Stage::ClosingAck:
        return ClosingAck();
      case Stage::Closed:
        if (!in_.empty()) {
          Error("bytes after the closing command");
          in_.clear();
        }
        return false;
    }
    return false;
  }

  bool Autobaud(const SerialEmit& emit) {
    // Until the speed is measured, anything but the autobaud character is line noise.
    while (!in_.empty() && in_.front() != 'A') in_.erase(in_.begin());
    if (in_.empty()) return false;
    in_.erase(in_.begin());
    stage_ = Stage::Commands;
    if (!unit_.Faults().noAutobaudEcho) emit(SerialAnswer{{'A'}, 0});
    return true;
  }

  bool Command(const SerialEmit& emit) {
    if (in_.size() < 16) return false;
    const uint8_t* header = in_.data() + 8;
    if (header[0] != 0x01 || header[1] != 0x66 || header[2] != 0x99) {
      Error("bad command header");
      in_.clear();  // no way to find the next frame in the stream
      return false;
    }
    size_t length = Be16(header + 4);
    if (length < 28 || length > 256) {
      Error("command frame length " + std::to_string(length));
      in_.clear();
      return false;
    }
    if (in_.size() < 8 + length) return false;
    std::vector<uint8_t> ack(in_.begin(), in_.begin() + 8);
    std::vector<uint8_t> frame(in_.begin() + 8, in_.begin() + 8 + static_cast<long>(length));
    in_.erase(in_.begin(), in_.begin() + 8 + static_cast<long>(length));
    Execute(ack, frame, emit);
    return true;
  }

  bool ClosingAck() {
    if (in_.size() < 8) return false;
    std::vector<uint8_t> got(in_.begin(), in_.begin() + 8);
    in_.erase(in_.begin(), in_.begin() + 8);
    if (got != closingAck_) Error("wrong acknowledgement of the closing reply");
    Flash().closingAcknowledged = got == closingAck_;
    stage_ = Stage::Closed;
    return true;
  }

  bool CheckPendingAck(const std::vector<uint8_t>& ack, uint8_t code, uint8_t sequence) {
    // Nothing precedes the erase. The first command after the handshake has no result
    // before it either: a verify of what the flash holds, without erasing it, comes with
    // nothing to acknowledge, or with the form every later command has.
    const std::vector<uint8_t> nothing(8, 0x00);
    const std::vector<uint8_t> previous = {0x06, 0x99, 0x66, static_cast<uint8_t>(sequence - 1),
                                           0x00, 0x08, 0x00, 0x00};
    if (code == kErase ? ack == nothing : ack == previous || (!haveSequence_ && ack == nothing)) {
      return true;
    }
    Error("wrong pending acknowledgement before command " + std::to_string(code));
    return false;
  }

  bool CheckFrame(const std::vector<uint8_t>& ack, const std::vector<uint8_t>& frame) {
    const uint8_t* record = frame.data() + 8;
    const size_t payload = frame.size() - 8;
    const uint8_t sequence = frame[3];
    const uint8_t code = record[1];
    bool ok = CheckPendingAck(ack, code, sequence);
    // The first command after the CPU was handed over sets the count; each further one
    // must follow it by one.
    if (haveSequence_ && sequence != static_cast<uint8_t>(lastSequence_ + 1)) {
      Error("sequence byte " + std::to_string(sequence) + " after " +
            std::to_string(lastSequence_));
      ok = false;
    }
    haveSequence_ = true;
    lastSequence_ = sequence;
    if (Be16(frame.data() + 6) != 0) ok = Fail("check field not 0000");
    if (record[0] != 0x00) ok = Fail("record byte 0 not 00");
    if (Be16(record + 6) != 0) ok = Fail("reserved field not 0000");
    if (Be16(record + 18) != 0xFFFF) ok = Fail("offset 18 not FFFF");
    uint16_t count = Be16(record + 8);
    uint32_t address = Be32(record + 2);
    const uint16_t w1 = Be16(record + 10), w2 = Be16(record + 12), w3 = Be16(record + 14),
                   w4 = Be16(record + 16);
    switch (code) {
      case kErase:
      case kClosing:
        if (payload != 20 || address != 0 || count != 0) ok = Fail("erase/closing record shape");
        if (w1 != SectorMask() || w2 != 0 || w3 != 3 || w4 != 0x0500) {
          ok = Fail("parameter words of this CPU's preset expected");
        }
        break;
      case kProgram:
        if (count == 0 || count > 114 || payload != 20 + 2u * count) {
          ok = Fail("program record of " + std::to_string(count) + " words in " +
                    std::to_string(payload) + " bytes");
        }
        if (w1 || w2 || w3 || w4) ok = Fail("program parameter words not 0");
        break;
      case kVerify:
        if (payload != 20 || w1 || w2 || w3) ok = Fail("verify record shape");
        break;
      default:
        ok = Fail("unknown command code " + std::to_string(code));
    }
    return ok;
  }

  bool Fail(const std::string& what) {
    Error(what);
    return false;
  }

  void Execute(const std::vector<uint8_t>& ack, const std::vector<uint8_t>& frame,
               const SerialEmit& emit) {
    ++frames_;
    if (!CheckFrame(ack, frame)) return;
    SimFaults& faults = unit_.Faults();
    const uint8_t* record = frame.data() + 8;
    const uint8_t code = record[1];
    if (code == kProgram && faults.lineGoneAfterProgramFrames >= 0 &&
        programFrames_ >= faults.lineGoneAfterProgramFrames) {
      if (unit_.dropLine) unit_.dropLine();
      return;
    }
    std::vector<uint8_t> result;
    int delayMs = 0;
    switch (code) {
      case kErase:
        Push16(result, Erase(&delayMs));
        break;
      case kProgram:
        ++programFrames_;
        Push16(result, Program(record));
        break;
      case kVerify:
        Push16(result, Verify(record));
        break;
      case kClosing:
        Flash().closed = true;
        Push16(result, kOk);
        Push16(result, FlashSum());
        Push16(result, static_cast<uint16_t>(Flash().programFrames));
        break;
    }
    const uint8_t sequence = frame[3];
    uint16_t crc = Crc(result.data(), result.size());
    if (faults.corruptResultOfFrame == frames_) crc ^= 0x5A5A;  // noise on the way back
    std::vector<uint8_t> out{0x01, 0x99, 0x66, sequence};
    Push16(out, static_cast<uint16_t>(8 + result.size()));
    Push16(out, crc);
    out.insert(out.end(), result.begin(), result.end());
    if (code == kClosing) {
      closingAck_ = {faults.corruptResultOfFrame == frames_ ? uint8_t{0x15} : uint8_t{0x06},
                     0x99,
                     0x66,
                     sequence,
                     0x00,
                     0x08,
                     out[6],
                     out[7]};
      stage_ = Stage::ClosingAck;
    }
    // Lost on the way back: the command was carried out, the host hears nothing.
    if (faults.dropAcksAfterFrames >= 0 && frames_ > faults.dropAcksAfterFrames) return;
    const int replyDelayMs = faults.replyDelayMs;
    emit(SerialAnswer{{0x06, 0x66, 0x99, sequence, 0x00, 0x08, 0x00, 0x00}, replyDelayMs});
    emit(SerialAnswer{std::move(out), delayMs + replyDelayMs});
  }

  uint16_t Erase(int* delayMs) {
    if (unit_.Faults().refuseErase) return kEraseRefused;
    CpuFlash& flash = Flash();
    uint16_t mask = SectorMask();
    int erased = 0;
    for (int s = 0; s < flash.sectors; ++s) {
      if (!(mask & (1u << s))) continue;
      auto first = flash.words.begin() + static_cast<long>(s * flash.sectorWords);
      std::fill(first, first + flash.sectorWords, 0xFFFF);
      ++erased;
    }
    ++flash.eraseCount;
    *delayMs = erased * kEraseMsPerSector;
    return kOk;
  }

  uint16_t Program(const uint8_t* record) {
    CpuFlash& flash = Flash();
    uint32_t address = Be32(record + 2);
    uint16_t count = Be16(record + 8);
    if (uint64_t{address} + count > flash.words.size()) return kOutsideFlash;
    for (uint16_t i = 0; i < count; ++i) {
      if (flash.words[address + i] != 0xFFFF) return kNotErased;
    }
    for (uint16_t i = 0; i < count; ++i) flash.words[address + i] = Be16(record + 20 + 2 * i);
    ++flash.programFrames;
    return kOk;
  }

  uint16_t Verify(const uint8_t* record) {
    CpuFlash& flash = Flash();
    uint32_t address = Be32(record + 2);
    uint16_t count = Be16(record + 8);
    if (uint64_t{address} + count > flash.words.size()) return kOutsideFlash;
    uint16_t sum = 0;
    for (uint16_t i = 0; i < count; ++i)
      sum = static_cast<uint16_t>(sum + flash.words[address + i]);
    if (unit_.Faults().verifyMismatch || sum != Be16(record + 16)) return kSumMismatch;
    return kOk;
  }

  uint16_t FlashSum() {
    uint16_t sum = 0;
    for (uint16_t word : Flash().words) sum = static_cast<uint16_t>(sum + word);
    return sum;
  }

  SimUnit& unit_;
  char cpu_;
  Stage stage_ = Stage::Autobaud;
  std::vector<uint8_t> in_;
  bool haveSequence_ = false;
  uint8_t lastSequence_ = 0;
  int frames_ = 0;         // command frames since the CPU was handed over
  int programFrames_ = 0;  // program frames since then
  std::vector<uint8_t> closingAck_;
};

}  // namespace

std::unique_ptr<SerialRole> MakeBootloaderRole(SimUnit& unit, char cpu) {
  return std::make_unique<BootloaderRole>(unit, cpu);
}

}  // namespace morlane::sim
