#include "platform/serial_port.h"

namespace morlane {

const char* PortOpenErrorText(PortOpenError error) {
  switch (error) {
    case PortOpenError::None:
      return "free";
    case PortOpenError::NotFound:
      return "not found";
    case PortOpenError::Busy:
      return "busy";
    case PortOpenError::PermissionDenied:
      return "permission denied";
    case PortOpenError::Unconfigurable:
      return "cannot be configured";
    case PortOpenError::Other:
      return "cannot be opened";
  }
  return "cannot be opened";
}

}  // namespace morlane
