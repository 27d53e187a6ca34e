#include "flash/inverter_flasher.h"

#include "flash/bin_file.h"

namespace morlane {

InverterFlasher::InverterFlasher(DialogContext& context, ImageBuffer& image)
    : context_(context),
      image_(image),
      link_(context.session.Serial(), context.clock, context.window),
      programmer_(context, image, link_) {}

int InverterFlasher::CheckBinFile(const std::string& path) {
  return morlane::CheckBinFile(path);
}

void InverterFlasher::ResetBootLink() {
  link_.ResetBootLink();
}

int InverterFlasher::RunProgrammingSequence(const std::string& path, int cpuTarget) {
  return programmer_.RunProgrammingSequence(path, cpuTarget);
}

}  // namespace morlane
