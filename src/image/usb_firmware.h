#pragma once

#include <functional>
#include <string>

#include "image/xfer_s19.h"
#include "link/dialog_context.h"

namespace morlane {

// The hidden USB firmware controls: "Select Firmware File" (1053) prepares tmp.txt and
// tmp.bin from an S-record file; "Update Firmware" (1052) does nothing.
class UsbFirmware {
 public:
  explicit UsbFirmware(DialogContext& context);

  // 1 when a usable link was found and both files were written.
  int PrepareUsbFirmware(const std::string& path);
  // Returns the result of PrepareUsbFirmware, 0 when cancelled.
  int OnSelectUsbFirmware();
  void OnUpdateUsbFirmware() {}

  // 1 when the last preparation wrote both tmp.txt and tmp.bin, whatever the link: a
  // build without a link still writes them with the settings in force.
  int filesWritten = 0;
  // Asked, when set, for an S-record file's text read before (a service package's): the
  // image is then prepared from that text and no file is read.
  std::function<const std::string*(const std::string& path)> heldImage;

  CXferS19 image;

 private:
  // Row settings by the open link; 0 when no usable link was found, -1 when the serial
  // entry names no unit type this image can go to.
  int ChooseSettings();
  int Prepare(const std::string& path);
  // Notes why the preparation failed, for the step's end; returns 0 for the caller.
  int Failed(StepReason why, std::string detail);
  // The S-record file's refusal, with its line and reason, as an event.
  void ReportRefusal(const std::string& path);

  DialogContext& context_;
  StepReason why_ = StepReason::None;
  std::string detail_;
};

}  // namespace morlane
