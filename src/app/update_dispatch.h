#pragma once

#include "flash/inverter_flasher.h"
#include "link/dialog_context.h"
#include "link/image_buffer.h"
#include "update/mcu_update.h"

namespace morlane {

// "Update Firmware" (1036): the MCU update over HID or the CPU programming over RS232,
// by the kind of the open session.
class UpdateDispatch {
 public:
  UpdateDispatch(DialogContext& context, ImageBuffer& image, InverterFlasher& flasher);

  // 1 when the chosen procedure ran and succeeded.
  int OnUpdateFirmware();

  McuUpdater& Mcu() { return mcu_; }

 private:
  int UpdateOverHid();
  int UpdateOverSerial();

  DialogContext& context_;
  ImageBuffer& image_;
  InverterFlasher& flasher_;
  McuUpdater mcu_;
};

}  // namespace morlane
