#include "core/link/serial_port.h"

namespace bms {

std::string PortErrorText(PortError e, const std::string& name) {
  switch (e) {
    case PortError::None:
      return "";
    case PortError::NotFound:
      return "no such serial port: " + name + " (is the adapter plugged in?)";
    case PortError::PermissionDenied:
      return "permission denied on " + name + ": add your user to the dialout group (sudo usermod -aG dialout $USER) and log in again";
    case PortError::Busy:
      return name + " is in use by another program";
    case PortError::NotSerial:
      return name + " is not a serial port";
    case PortError::ConfigFailed:
      return name + " refused the line settings";
    case PortError::Gone:
      return "the serial device " + name + " disappeared (adapter unplugged?)";
    case PortError::Cancelled:
      return "the transfer on " + name + " was cancelled";
    case PortError::Io:
      return "input/output error on " + name;
  }
  return "";
}

}  // namespace bms
