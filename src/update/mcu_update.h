#pragma once

#include <cstdint>
#include <string>

#include "link/dialog_context.h"
#include "link/hid_control.h"
#include "link/image_buffer.h"

namespace morlane {

// Programs the unit's MCU over the USB link from tmp.bin in the working directory: the
// address table, the image size, the image in 64-byte data reports each acknowledged by
// the unit, and an end report carrying the checksum.
//
// Agreements with the unit's USB controller that the protocol itself leaves open:
// - Readiness: the unit answers the CPU selection (" fMast" / " fSlav", sent just before
//   the update starts) with a reply whose first byte is kReadyCode once it is ready to
//   take an image. The update reads that one reply, bounded like every read (six waits
//   of 500 ms), and goes on only when it says ready; anything else, or silence, shows
//   "System not ready..." and sends nothing. The flag is cleared after each update, so
//   every update needs a fresh selection answered.
// - Checksum: an 8-bit wrap-around sum starting at 0 over every image byte sent in the
//   data reports (the 0x11 in front of each block not included); the end report carries
//   its bitwise complement.
// - The last part of an image whose length is not a multiple of 64 goes in a short data
//   report: 0x11 and the remaining bytes, its length byte saying so; the report is
//   zero-filled after them like every report. The progress count then advances only by
//   those bytes, so the display reaches exactly 100 before the end cycle.
// - A unit whose output report is shorter than the 69 bytes a data report takes is
//   refused before anything is loaded or sent: blocks cut by the report length would
//   give the unit a corrupt image.
class McuUpdater {
 public:
  static constexpr uint8_t kReadyCode = 0x06;
  static constexpr uint8_t kTableAccepted = 0x06;
  static constexpr uint8_t kAccepted = 0x11;
  static constexpr uint8_t kInstalled = 0x07;
  static constexpr uint8_t kDataMarker = 0x11;
  static constexpr int kBlockBytes = 64;
  static constexpr int kDataReportLength = 4 + 1 + kBlockBytes;
  static constexpr int kNoAnswerLimit = 100;
  static constexpr int kHandshakeWaitMs = 500;

  McuUpdater(DialogContext& context, ImageBuffer& image);

  // Runs the whole update; 1 only when the unit answered "installed".
  int UpdateMcuOverHid();
  // The data transfer, once the unit has accepted the size; 1 on "installed".
  int TransferImage();

  int mcuReady = 0;
  int transferPhase = 0;  // 0: the next report is to be sent; 1: a reply is awaited
  uint8_t checksumByte = 0;
  // Cycles in a row without a usable reply. It lives as long as the dialog, which is as
  // long as the process.
  int noAnswerCount = 0;
  CHIDControl::Reply firstHandshakeReply{};
  CHIDControl::Reply secondHandshakeReply{};

 private:
  void ResetControls();
  void SendAddressTable();
  void SendSize();
  void SendNextReport();
  void ShowTransferPercent();
  int RunUpdate();
  // Notes why the update failed, for the step's end; returns 0 for the caller.
  int Failed(StepReason why, const char* detail);

  DialogContext& context_;
  ImageBuffer& image_;
  StepReason why_ = StepReason::None;
  std::string detail_;
  int lastPercent_ = -1;
};

}  // namespace morlane
