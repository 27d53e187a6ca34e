#pragma once

#include "link/dialog_context.h"
#include "update/image_buffer.h"

namespace morlane {

// Programs the unit's MCU over the USB link from tmp.bin in the working directory.
class McuUpdater {
 public:
  McuUpdater(DialogContext& context, ImageBuffer& image);

  // Runs the whole update; 1 when the unit answered "installed".
  int UpdateMcuOverHid();

 private:
  DialogContext& context_;
  ImageBuffer& image_;
};

}  // namespace morlane
