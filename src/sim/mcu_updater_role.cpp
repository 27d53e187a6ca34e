// The unit's MCU updater, written from the wire description alone.
#include "sim/mcu_updater_role.h"

#include <string>

namespace morlane::sim {

namespace {

constexpr uint32_t kTable[] = {0x0000, 0x0400, 0x0800, 0x0C00, 0x1000, 0x8000, 0x10000, 0x18000};

uint32_t Be32(const std::vector<uint8_t>& bytes, size_t at) {
  return static_cast<uint32_t>(bytes[at]) << 24 | static_cast<uint32_t>(bytes[at + 1]) << 16 |
         static_cast<uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
}

}  // namespace

McuInstall McuUpdaterRole::Install() {
  std::lock_guard lock(mutex_);
  return install_;
}

int McuUpdaterRole::Answer(int code) {
  SimFaults& faults = unit_.Faults();
  if (faults.mcuSilent) return -1;
  if (faults.mcuTopBitReplies) return code | 0x80;
  return code;
}

int McuUpdaterRole::OnTable(const std::vector<uint8_t>& payload) {
  bool ok = payload.size() == 2 + 4 * std::size(kTable) && payload[1] == std::size(kTable);
  for (size_t i = 0; ok && i < std::size(kTable); ++i) ok = Be32(payload, 2 + 4 * i) == kTable[i];
  if (!ok) return kRefused;
  stage_ = Stage::SizeNext;
  return kTableOk;
}

int McuUpdaterRole::OnSize(const std::vector<uint8_t>& payload) {
  uint32_t size = Be32(payload, 4);
  if (Be32(payload, 0) != 0 || size == 0 || size > kMaxImage) {
    stage_ = Stage::Selected;
    return kRefused;
  }
  install_.announcedSize = size;
  install_.image.clear();
  install_.dataReports = 0;
  sum_ = 0;
  if (unit_.Faults().mcuSizeAnsweredWith07) {
    stage_ = Stage::Done;
    return kInstalled;
  }
  stage_ = Stage::Data;
  return kOk;
}

int McuUpdaterRole::OnData(const std::vector<uint8_t>& payload) {
  size_t remaining = install_.announcedSize - install_.image.size();
  if (remaining == 0) {
    // The end report: the complement of the sum over every image byte.
    if (payload.size() != 2) return kRefused;
    if (static_cast<uint8_t>(~payload[1]) != sum_) return kRefused;
    install_.installed = true;
    stage_ = Stage::Done;
    return kInstalled;
  }
  size_t expected = remaining < 64 ? remaining : 64;
  if (payload.size() != 1 + expected) return kRefused;
  int errorAfter = unit_.Faults().mcuErrorAfterBlocks;
  if (errorAfter >= 0 && install_.dataReports >= errorAfter) return kRefused;
  install_.image.insert(install_.image.end(), payload.begin() + 1, payload.end());
  for (size_t i = 1; i < payload.size(); ++i) sum_ = static_cast<uint8_t>(sum_ + payload[i]);
  ++install_.dataReports;
  return kOk;
}

bool McuUpdaterRole::OnReport(const std::vector<uint8_t>& payload, const ReplyTo& reply) {
  std::string text(payload.begin(), payload.end());
  int code = -1;
  {
    std::lock_guard lock(mutex_);
    if (text == " fMast" || text == " fSlav") {
      // A selection starts every update afresh.
      install_ = McuInstall();
      install_.cpu = text == " fMast" ? 'M' : 'S';
      stage_ = Stage::Selected;
      code = kReady;
    } else if (stage_ == Stage::Selected && !payload.empty() && payload[0] == 'W') {
      code = Answer(OnTable(payload));
    } else if (stage_ == Stage::SizeNext && payload.size() == 8) {
      code = Answer(OnSize(payload));
    } else if (stage_ == Stage::Data && !payload.empty() && payload[0] == 0x11) {
      code = Answer(OnData(payload));
    } else if (stage_ == Stage::Done && !payload.empty() && payload[0] == 0x11) {
      // Reports after the image was installed (or refused) belong to no update.
      code = Answer(kRefused);
    } else {
      return false;  // a service command
    }
  }
  if (code >= 0) reply({static_cast<uint8_t>(code)});
  return true;
}

std::unique_ptr<UsbRole> MakeMcuUpdaterRole(SimUnit& unit) {
  return std::make_unique<McuUpdaterRole>(unit);
}

}  // namespace morlane::sim
