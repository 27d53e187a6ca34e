#include "sim/sim_unit.h"

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

CpuFlash& SimUnit::Flash(char cpu) { return cpu == 'S' ? slaveFlash_ : masterFlash_; }

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
  for (size_t i = 0; i < n; ++i) received_.push_back(Received{data[i], baud});
  if (baud != lastBaud_) {
    if (firmware_) firmware_->Reset();
    lastBaud_ = baud;
  }
  if (SerialRole* role = RoleFor(baud)) role->OnBytes(data, n, emit);
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
}

}  // namespace morlane::sim
