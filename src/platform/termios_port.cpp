// Placeholder until the termios layer lands.
#include "platform/termios_port.h"

namespace morlane {

const char* PortOpenErrorText(PortOpenError error) {
  switch (error) {
    case PortOpenError::None: return "free";
    case PortOpenError::NotFound: return "not found";
    case PortOpenError::Busy: return "busy";
    case PortOpenError::PermissionDenied: return "permission denied";
    case PortOpenError::Unconfigurable: return "cannot be configured";
    case PortOpenError::Other: return "cannot be opened";
  }
  return "cannot be opened";
}

std::unique_ptr<SerialPort> OpenTermiosPort(const std::string&, PortOpenError* error) {
  if (error) *error = PortOpenError::Other;
  return nullptr;
}

std::unique_ptr<SerialPort> TermiosPortFactory::Open(int comNumber, PortOpenError* error) {
  std::string path = table_.PathOf(comNumber);
  if (path.empty()) {
    if (error) *error = PortOpenError::NotFound;
    return nullptr;
  }
  return OpenTermiosPort(path, error);
}

}  // namespace morlane
