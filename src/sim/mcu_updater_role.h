#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "sim/sim_usb.h"

namespace morlane::sim {

// What the unit's MCU updater holds after (or during) an update, for the tests.
struct McuInstall {
  char cpu = 0;                // 'M' or 'S': the last CPU selection taken
  uint32_t announcedSize = 0;  // from the size report
  std::vector<uint8_t> image;  // the bytes of the data reports, in order
  int dataReports = 0;
  bool installed = false;  // the end report matched and was answered 0x07
};

// The unit's MCU updater on its USB side. The CPU selection " fMast" / " fSlav" is
// answered 0x06 (ready); then it takes the address table (0x06), the size (0x11), data
// reports of 0x11 and up to 64 bytes, each answered 0x11, the last one short when the
// size is not a multiple of 64, and the end report 0x11 with the complement of the 8-bit
// sum of all image bytes, answered 0x07 when the sum and the byte count match. Anything
// it does not expect is answered 0x15. The fault switches act on the update reports
// only; the selection is always answered, so that they reach the transfer.
class McuUpdaterRole : public UsbRole {
 public:
  static constexpr uint8_t kReady = 0x06;
  static constexpr uint8_t kTableOk = 0x06;
  static constexpr uint8_t kOk = 0x11;
  static constexpr uint8_t kInstalled = 0x07;
  static constexpr uint8_t kRefused = 0x15;
  // The largest image its memory takes.
  static constexpr uint32_t kMaxImage = 1u << 20;

  explicit McuUpdaterRole(SimUnit& unit) : unit_(unit) {}
  bool OnReport(const std::vector<uint8_t>& payload, const ReplyTo& reply) override;

  McuInstall Install();

 private:
  enum class Stage { Idle, Selected, SizeNext, Data, Done };

  // The code to answer with, or -1 to answer nothing; the fault switches applied.
  int Answer(int code);
  int OnTable(const std::vector<uint8_t>& payload);
  int OnSize(const std::vector<uint8_t>& payload);
  int OnData(const std::vector<uint8_t>& payload);

  SimUnit& unit_;
  std::mutex mutex_;
  Stage stage_ = Stage::Idle;
  McuInstall install_;
  uint8_t sum_ = 0;
};

}  // namespace morlane::sim
