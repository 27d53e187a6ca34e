#include "sim/sim_unit.h"

#include <algorithm>

namespace morlane::sim {

namespace {

// Flash geometry: ten sectors on the master CPU, four on the slave.
constexpr uint32_t kSectorWords = 0x2000;

void Format(CpuFlash& flash, int sectors) {
  flash.sectors = sectors;
  flash.sectorWords = kSectorWords;
  flash.words.assign(static_cast<size_t>(sectors) * kSectorWords, 0x5A5A);  // old firmware
}

}  // namespace

SimUnit::SimUnit() {
  Format(masterFlash_, 10);
  Format(slaveFlash_, 4);
  firmware_ = MakeFirmwareRole(*this);
  masterBoot_ = MakeBootloaderRole(*this, 'M');
  slaveBoot_ = MakeBootloaderRole(*this, 'S');
}

SimUnit::~SimUnit() = default;

void SimUnit::SelectCpu(char cpu) {
  selectedCpu_ = cpu;
  if (cpu == 'M') masterBoot_->Reset();
  if (cpu == 'S') slaveBoot_->Reset();
}

CpuFlash& SimUnit::Flash(char cpu) {
  return cpu == 'S' ? slaveFlash_ : masterFlash_;
}

CpuFlash SimUnit::FlashSnapshot(char cpu) {
  std::lock_guard lock(mutex_);
  return Flash(cpu);
}

uint32_t FlashDigest(const std::vector<uint16_t>& words) {
  uint32_t hash = 2166136261u;
  for (uint16_t word : words) {
    for (uint8_t byte : {static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word & 0xFF)}) {
      hash = (hash ^ byte) * 16777619u;
    }
  }
  return hash;
}

SerialRole* SimUnit::RoleFor(int baud) {
  if (baud == 9600) return firmware_.get();
  if (baud == 19200) {
    if (selectedCpu_ == 'M') return masterBoot_.get();
    if (selectedCpu_ == 'S') return slaveBoot_.get();
  }
  // Any other speed, or a bootloader speed with no CPU handed over: the unit sees
  // garbage and answers nothing.
  return nullptr;
}

void SimUnit::OnSerialBytes(const uint8_t* data, size_t n, int baud, const SerialEmit& emit) {
  std::lock_guard lock(mutex_);
  if (faults_.takenOut) {
    // What was half received goes with the unit that was taken out.
    if (firmware_) firmware_->Reset();
    selectedCpu_ = 0;
    lastBaud_ = 0;
    return;
  }
  if (baud != lastBaud_) {
    // A real port sends what was written before its speed changed at the old speed. The
    // pseudo-terminal only shows the speed at the time the bytes are read, so bytes that
    // complete what the old role awaits (the host's last acknowledgement before it
    // switched back to 9600) are handed to it first.
    if (SerialRole* previous = RoleFor(lastBaud_)) {
      size_t early = std::min(n, previous->ClaimEarlyBytes(data, n));
      for (size_t i = 0; i < early; ++i) received_.push_back(Received{data[i], lastBaud_});
      if (early > 0) previous->OnBytes(data, early, emit);
      data += early;
      n -= early;
    }
    if (firmware_) firmware_->Reset();
    lastBaud_ = baud;
  }
  for (size_t i = 0; i < n; ++i) received_.push_back(Received{data[i], baud});
  KeepRecent(received_, kMaxRecords);
  if (SerialRole* role = RoleFor(baud); role && n > 0) role->OnBytes(data, n, emit);
}

std::vector<SimUnit::Received> SimUnit::ReceivedBytes() {
  std::lock_guard lock(mutex_);
  return received_;
}

std::vector<std::string> SimUnit::ServiceCommandsSeen() {
  std::lock_guard lock(commandsMutex_);
  return commandsSeen_;
}

void SimUnit::RecordServiceCommand(const std::string& command) {
  std::lock_guard lock(commandsMutex_);
  commandsSeen_.push_back(command);
  KeepRecent(commandsSeen_, kMaxRecords);
}

}  // namespace morlane::sim
