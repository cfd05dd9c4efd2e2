#include "core/platform/port_scan.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/temp_folder.h"

namespace bms {
namespace {

using testing::TempFolder;
namespace fs = std::filesystem;

// A fake /sys/class/tty and /dev, shaped like the kernel's: each entry is a
// folder whose `device` links to a device folder with a `driver` link.
class FakeSysfs {
 public:
  FakeSysfs() {
    fs::create_directories(dir_ / "sys/class/tty");
    fs::create_directories(dir_ / "sys/devices");
    fs::create_directories(dir_ / "dev");
  }
  // driver "" gives a virtual tty without a device link; type < 0 no type file.
  void add(const std::string& name, const std::string& driver, int type = -1, bool node = true) {
    const std::string entry = dir_ / ("sys/class/tty/" + name);
    fs::create_directories(entry);
    if (!driver.empty()) {
      const std::string device = dir_ / ("sys/devices/" + name);
      fs::create_directories(device);
      fs::create_symlink("../../bus/drivers/" + driver, device + "/driver");
      fs::create_symlink("../../../devices/" + name, entry + "/device");
    }
    if (type >= 0) dir_.write("sys/class/tty/" + name + "/type", std::to_string(type) + "\n");
    if (node) dir_.write("dev/" + name, "");
  }
  std::vector<SerialDeviceEntry> list() const { return ListSerialDevices(dir_ / "sys/class/tty", dir_ / "dev"); }
  std::string dev(const std::string& name) const { return dir_ / ("dev/" + name); }

 private:
  TempFolder dir_;
};

std::vector<std::string> Names(const std::vector<SerialDeviceEntry>& list) {
  std::vector<std::string> names;
  for (const SerialDeviceEntry& e : list) names.push_back(e.kernel_name);
  return names;
}

TEST(PortScan, ListsRealDevicesInNaturalOrder) {
  FakeSysfs sys;
  sys.add("ttyUSB10", "ftdi_sio");
  sys.add("ttyUSB2", "cp210x");
  sys.add("ttyACM0", "cdc_acm");
  sys.add("ttyS0", "serial8250", 4);  // a 16550A UART
  sys.add("ttyS1", "serial8250", 0);  // a legacy port with nothing behind it
  sys.add("tty0", "");                // a virtual console
  sys.add("ptmx", "");
  sys.add("ttyUSB5", "ftdi_sio", -1, false);  // no device node (yet)

  const std::vector<SerialDeviceEntry> list = sys.list();
  EXPECT_EQ(Names(list), (std::vector<std::string>{"ttyACM0", "ttyS0", "ttyUSB2", "ttyUSB10"}));
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0].path, sys.dev("ttyACM0"));
  EXPECT_EQ(list[0].driver, "cdc_acm");
  EXPECT_TRUE(list[0].usb);
  EXPECT_EQ(list[1].driver, "serial8250");
  EXPECT_FALSE(list[1].usb);
  EXPECT_EQ(list[3].driver, "ftdi_sio");
  EXPECT_TRUE(list[3].usb);

  EXPECT_TRUE(ListSerialDevices("/nonexistent/sys/class/tty").empty());
}

TEST(PortScan, FirstPassTakesUsbAdaptersOnly) {
  FakeSysfs sys;
  sys.add("ttyS0", "serial8250", 4);
  sys.add("ttyUSB300", "ftdi_sio");  // number out of range
  sys.add("ttyUSB1", "ftdi_sio");
  sys.add("ttyACM255", "cdc_acm");
  EXPECT_EQ(Names(SelectScanPorts(sys.list())), (std::vector<std::string>{"ttyACM255", "ttyUSB1"}));
}

TEST(PortScan, SecondPassTakesTheOthersOnlyWhenNoUsbAdapterWasTaken) {
  struct Case {
    const char* what;
    std::vector<SerialDeviceEntry> list;
    std::vector<std::string> taken;
  };
  const SerialDeviceEntry s0{"/dev/ttyS0", "ttyS0", "serial8250", false};
  const SerialDeviceEntry s1{"/dev/ttyS1", "ttyS1", "serial8250", false};
  const SerialDeviceEntry s256{"/dev/ttyS256", "ttyS256", "serial8250", false};
  const SerialDeviceEntry usb300{"/dev/ttyUSB300", "ttyUSB300", "ftdi_sio", true};
  const SerialDeviceEntry usb0{"/dev/ttyUSB0", "ttyUSB0", "ftdi_sio", true};
  const Case cases[] = {
      {"nothing at all", {}, {}},
      {"only non-USB ports", {s0, s1}, {"ttyS0", "ttyS1"}},
      {"a USB adapter wins", {s0, usb0, s1}, {"ttyUSB0"}},
      {"an out-of-range adapter takes nothing", {usb300, s1, s256}, {"ttyS1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Names(SelectScanPorts(c.list)), c.taken);
  }
}

TEST(PortScan, PortNumberIsTheTrailingNumberOfTheKernelName) {
  struct Case {
    const char* name;
    int number;
    bool in_range;
  };
  const Case cases[] = {
      {"ttyUSB0", 0, true},   {"ttyS12", 12, true},     {"ttyACM255", 255, true},         {"ttyUSB256", 256, false},
      {"ttyUSB007", 7, true}, {"VirtualPack", 0, true}, {"ttyUSB99999999999", -1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SerialPortNumber(c.name), c.number);
    EXPECT_EQ(PortNumberInRange(SerialDeviceEntry{"", c.name, "", false}), c.in_range);
  }
}

}  // namespace
}  // namespace bms
