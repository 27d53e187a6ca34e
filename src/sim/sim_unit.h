#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_faults.h"

namespace morlane::sim {

// The records the unit keeps for the tests are bounded, so that a unit left running for
// days does not grow without end: past the limit the older half goes.
template <typename T>
void KeepRecent(std::vector<T>& records, size_t limit) {
  if (records.size() > limit) {
    records.erase(records.begin(),
                  records.begin() + static_cast<std::ptrdiff_t>(records.size() - limit / 2));
  }
}
inline constexpr size_t kMaxRecords = 1u << 18;

// Bytes the unit sends back on its serial line, after delayMs.
struct SerialAnswer {
  std::vector<uint8_t> bytes;
  int delayMs = 0;
};

// Emits bytes on the unit's serial line; the line driver (the pseudo-terminal server or
// a test) carries them to the host.
using SerialEmit = std::function<void(SerialAnswer answer)>;

// One part of the unit that listens on the serial line: the running firmware at 9600
// baud, a CPU's bootloader at 19200 baud.
class SerialRole {
 public:
  virtual ~SerialRole() = default;
  virtual void OnBytes(const uint8_t* data, size_t n, const SerialEmit& emit) = 0;
  // The line changed speed or was reopened: partial input is dropped.
  virtual void Reset() {}
  // How many of the bytes at the start of data complete what the role is in the middle
  // of awaiting (the acknowledgement of its last reply); 0 when they do not.
  virtual size_t ClaimEarlyBytes(const uint8_t* data, size_t n) const {
    (void)data;
    (void)n;
    return 0;
  }
};

// Flash memory of one CPU, in 16-bit words; erased words read 0xFFFF.
struct CpuFlash {
  std::vector<uint16_t> words;
  int sectors = 0;
  uint32_t sectorWords = 0;
  int eraseCount = 0;
  int programFrames = 0;
  bool closed = false;               // the closing command was received
  bool closingAcknowledged = false;  // and the host acknowledged its reply as it should
  // What the bootloader refused and left unanswered, in order (at most 100).
  std::vector<std::string> errors;
};

// FNV-1a over the words, high byte first: what the unit reports of a CPU's flash.
uint32_t FlashDigest(const std::vector<uint16_t>& words);

// The simulated unit: the USB interface controller's service answers, the running
// firmware that selects a CPU at 9600 baud, and the two CPU bootloaders at 19200 baud.
// It is a second implementation of the unit's side of the wire, so it shares no code
// with the tool.
class SimUnit {
 public:
  SimUnit();
  ~SimUnit();

  SimFaults& Faults() { return faults_; }

  // Everything the host wrote on the serial line, at the line's present speed.
  void OnSerialBytes(const uint8_t* data, size_t n, int baud, const SerialEmit& emit);
  // The answer to one service command text (without its carriage return), or nothing.
  std::optional<std::string> ServiceAnswer(const std::string& command);

  // Which CPU the running firmware handed the line to: 'M', 'S' or 0.
  char SelectedCpu() const { return selectedCpu_; }
  void SelectCpu(char cpu);
  // The flash of one CPU. Flash() is for the unit's own roles and for tests that drive
  // the line themselves; FlashSnapshot() may be taken while a line server runs.
  CpuFlash& Flash(char cpu);
  CpuFlash FlashSnapshot(char cpu);
  // Every byte the host sent, with the speed it came at, for the tests.
  struct Received {
    uint8_t byte;
    int baud;
  };
  std::vector<Received> ReceivedBytes();
  std::vector<std::string> ServiceCommandsSeen();

  void RecordServiceCommand(const std::string& command);

  // Takes the serial line away (set by whatever drives the line); the "line gone"
  // fault calls it.
  std::function<void()> dropLine;

 private:
  SerialRole* RoleFor(int baud);

  SimFaults faults_;
  std::mutex mutex_;
  char selectedCpu_ = 0;
  int lastBaud_ = 0;
  std::unique_ptr<SerialRole> firmware_;
  std::unique_ptr<SerialRole> masterBoot_;
  std::unique_ptr<SerialRole> slaveBoot_;
  CpuFlash masterFlash_;
  CpuFlash slaveFlash_;
  std::vector<Received> received_;
  std::mutex commandsMutex_;
  std::vector<std::string> commandsSeen_;
};

// Factories of the roles, each in its own file.
std::unique_ptr<SerialRole> MakeFirmwareRole(SimUnit& unit);
std::unique_ptr<SerialRole> MakeBootloaderRole(SimUnit& unit, char cpu);

}  // namespace morlane::sim
