// Placeholder until the MCU update lands.
#include "update/mcu_update.h"

namespace morlane {

McuUpdater::McuUpdater(DialogContext& context, ImageBuffer& image)
    : context_(context), image_(image) {}

int McuUpdater::UpdateMcuOverHid() { return 0; }

}  // namespace morlane
