#pragma once

#include <string>

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

 private:
  DialogContext& context_;
};

}  // namespace morlane
