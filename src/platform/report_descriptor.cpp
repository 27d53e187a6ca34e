// Placeholder until the descriptor parser lands.
#include "platform/report_descriptor.h"

namespace morlane {

HidCaps ParseReportDescriptor(const std::vector<uint8_t>&) { return {}; }

}  // namespace morlane
