#include "image/usb_firmware.h"

namespace morlane {

UsbFirmware::UsbFirmware(DialogContext& context) : context_(context) {}

int UsbFirmware::PrepareUsbFirmware(const std::string&) { return 0; }

int UsbFirmware::OnSelectUsbFirmware() { return 0; }

}  // namespace morlane
