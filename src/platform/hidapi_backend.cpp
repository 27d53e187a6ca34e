// Placeholder until the hidapi backend lands.
#include "platform/hidapi_backend.h"

namespace morlane {

HidapiBackend::HidapiBackend() = default;
HidapiBackend::~HidapiBackend() = default;
std::vector<HidDeviceInfo> HidapiBackend::Enumerate() { return {}; }
std::unique_ptr<HidDevice> HidapiBackend::Open(const std::string&) { return nullptr; }

}  // namespace morlane
