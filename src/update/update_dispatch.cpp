#include "update/update_dispatch.h"

namespace morlane {

UpdateDispatch::UpdateDispatch(DialogContext& context, ImageBuffer& image,
                               InverterFlasher& flasher)
    : context_(context), image_(image), flasher_(flasher) {}

int UpdateDispatch::OnUpdateFirmware() { return 0; }

}  // namespace morlane
