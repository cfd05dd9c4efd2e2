#include "sim/port_factory.h"

#include "core/link/posix_serial_port.h"
#include "sim/sim_port.h"

namespace bms::sim {

PortFactory MakePortFactory(VirtualPack* pack, Clock& clock, WireLog* log) {
  return [pack, &clock, log](const std::string& name) -> std::unique_ptr<SerialPort> {
    if (pack && name == kVirtualPortName) return std::make_unique<SimPort>(*pack, clock, log);
    return std::make_unique<PosixSerialPort>();
  };
}

}  // namespace bms::sim
