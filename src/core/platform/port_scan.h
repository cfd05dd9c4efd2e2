#pragma once
// The serial-device list of the connection dialog's scan, read from sysfs,
// and the scan's choice of ports from it.
#include <string>
#include <vector>

namespace bms {

struct SerialDeviceEntry {
  std::string path;         // device path, the port name: /dev/ttyUSB0
  std::string kernel_name;  // ttyUSB0
  std::string driver;       // ftdi_sio, cp210x, cdc_acm, serial8250... ("" when unknown)
  bool usb = false;         // a USB adapter (ttyUSB*, ttyACM*): preferred by the scan
};

// Serial devices that exist: every entry of sysfs_root with a `device` link,
// except serial-core ports whose `type` reads 0 (no UART behind them: the
// legacy ttyS ports every PC kernel lists), and entries whose device node is
// missing under dev_root. Sorted by kernel name, numbers in natural order
// (ttyUSB2 before ttyUSB10). An unreadable sysfs gives an empty list.
std::vector<SerialDeviceEntry> ListSerialDevices(const std::string& sysfs_root = "/sys/class/tty", const std::string& dev_root = "/dev");

// The port number of an entry: the trailing decimal number of its kernel name
// (ttyUSB0 gives 0, ttyS12 gives 12), 0 when the name has none, -1 when the
// number is too long to be a port number.
int SerialPortNumber(const std::string& kernel_name);
// The scan takes only entries whose port number is 0 to 255.
bool PortNumberInRange(const SerialDeviceEntry& e);

// The scan's two passes over the list, in list order: the USB adapters with a
// port number in range; only when there is none, the other entries with a
// port number in range.
std::vector<SerialDeviceEntry> SelectScanPorts(const std::vector<SerialDeviceEntry>& list);

// Natural order of names: digit runs compare as numbers.
bool NaturalLess(const std::string& a, const std::string& b);

}  // namespace bms
