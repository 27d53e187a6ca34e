#include "flash/inverter_flasher.h"

namespace morlane {

InverterFlasher::InverterFlasher(DialogContext& context, ImageBuffer& image)
    : context_(context), image_(image) {}

int InverterFlasher::CheckBinFile(const std::string&) { return 0; }

void InverterFlasher::ResetBootLink() {}

int InverterFlasher::RunProgrammingSequence(const std::string&, int) { return 0; }

int InverterFlasher::AutoUpdate() { return 0; }

}  // namespace morlane
