#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "flash/bin_file.h"
#include "flash/boot_link.h"
#include "link/dialog_context.h"
#include "update/image_buffer.h"

namespace morlane {

// The 16-bit sum of the words (each high byte first) that the verify command carries.
uint16_t VerifyChecksum(const uint8_t* data, int byteCount);

// Programs one CPU from an image file: CPU selection, the switch to the bootloader's
// speed, handshake, erase, burn, verify and the closing command.
class FlashProgrammer {
 public:
  FlashProgrammer(DialogContext& context, ImageBuffer& image, BootLink& link);

  int FlashErase();
  // One program command per chunk of at most 228 bytes, each with its status poll.
  int WriteBlock(uint32_t address, int byteCount, const uint8_t* data);
  int FlashBurn(const std::string& path);
  int VerifyBlock(uint32_t address, int byteCount, const uint8_t* data);
  // 1 whenever every section was sent for verification, whatever the verdict (the
  // closing command follows a failed verification as well); the verdict is in
  // verifyPassed.
  int FlashVerify(const std::string& path);
  int FlashClose();

  // The whole sequence for cpuTarget (0 master, 1 slave; any other value selects no CPU
  // but runs the rest). 1 only when erase, burn and verify all passed.
  int RunProgrammingSequence(const std::string& path, int cpuTarget);
  // From the switch to 19200 baud on, with the CPU already handed over; the port ends
  // closed. 1 only when erase, burn and verify all passed.
  int ProgramSelectedCpu(const std::string& path);
  // Judges the whole section table before anything is sent; a refused image is logged
  // as "Bin file is error!\n".
  int AcceptImage(const std::string& path);

  // Cleared when a program command was not acknowledged; the burn stops on it.
  int blockAcknowledged = 1;
  bool verifyPassed = false;

 private:
  void ShowProgress();

  DialogContext& context_;
  ImageBuffer& image_;
  BootLink& link_;
  std::array<uint8_t, 256> block_{};
};

}  // namespace morlane
