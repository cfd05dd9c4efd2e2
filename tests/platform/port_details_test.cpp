// What the connection dialog tells about a port, read from a fake sysfs and
// /dev tree shaped like the kernel's and udev's.
#include "core/platform/port_details.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/link/port_supervisor.h"
#include "core/shell/app.h"
#include "platform/temp_folder.h"
#include "sim_fixture.h"

namespace bms {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

// /sys/class/tty/<tty>/device leads into the interface folder of a USB device
// whose folder holds idVendor, idProduct, manufacturer, product and serial;
// /dev holds the nodes (plain files here) and serial/by-id links.
class FakeTree {
 public:
  FakeTree() {
    fs::create_directories(dir_ / "sys/class/tty");
    fs::create_directories(dir_ / "dev/serial/by-id");
  }
  // A USB adapter: usb-serial ttys sit one folder below the interface
  // (…/1-2:1.0/ttyUSB0), CDC ACM ttys link to the interface itself.
  void usb(const std::string& tty, const std::string& port, const std::string& vid, const std::string& pid, const std::string& maker, const std::string& product,
           const std::string& serial) {
    const std::string dev = "sys/devices/usb1/" + port;
    fs::create_directories(dir_ / (dev + "/" + port + ":1.0"));
    dir_.write(dev + "/idVendor", vid + "\n");
    dir_.write(dev + "/idProduct", pid + "\n");
    if (!maker.empty()) dir_.write(dev + "/manufacturer", maker + "\n");
    if (!product.empty()) dir_.write(dev + "/product", product + "\n");
    if (!serial.empty()) dir_.write(dev + "/serial", serial + "\n");
    const bool acm = tty.rfind("ttyACM", 0) == 0;
    std::string target = "../../../devices/usb1/" + port + "/" + port + ":1.0";
    if (!acm) {
      fs::create_directories(dir_ / (dev + "/" + port + ":1.0/" + tty));
      target += "/" + tty;
    }
    fs::create_directories(dir_ / ("sys/class/tty/" + tty));
    fs::create_symlink(target, dir_ / ("sys/class/tty/" + tty + "/device"));
    dir_.write("dev/" + tty, "");
  }
  // A built-in UART: its device has no USB folder above it.
  void uart(const std::string& tty) {
    fs::create_directories(dir_ / ("sys/devices/platform/serial8250/" + tty));
    fs::create_directories(dir_ / ("sys/class/tty/" + tty));
    fs::create_symlink("../../../devices/platform/serial8250/" + tty, dir_ / ("sys/class/tty/" + tty + "/device"));
    dir_.write("dev/" + tty, "");
  }
  void by_id(const std::string& name, const std::string& tty) { fs::create_symlink("../../" + tty, dir_ / ("dev/serial/by-id/" + name)); }

  // The adapter pulled out: udev and the kernel remove its node, links and sysfs entry.
  void remove(const std::string& tty, const std::string& port) {
    fs::remove_all(dir_ / ("sys/class/tty/" + tty));
    fs::remove_all(dir_ / ("sys/devices/usb1/" + port));
    fs::remove(dir_ / ("dev/" + tty));
    for (const auto& e : fs::directory_iterator(dir_ / "dev/serial/by-id"))
      if (!fs::exists(e.path())) fs::remove(e.path());
  }
  SysfsPortLocator locator() const { return SysfsPortLocator(dir_ / "sys/class/tty", dir_ / "dev"); }
  const TempFolder& dir() const { return dir_; }

  PortDetails read(const std::string& dev_relative) const { return ReadPortDetails(dir_ / ("dev/" + dev_relative), dir_ / "sys/class/tty", dir_ / "dev"); }
  std::string dev(const std::string& rel) const { return dir_ / ("dev/" + rel); }

 private:
  TempFolder dir_;
};

TEST(PortDetails, UsbVendorProductSerialAndByIdLinkOfEachKindOfPort) {
  FakeTree t;
  t.usb("ttyUSB0", "1-2", "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI");
  t.by_id("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0");
  t.usb("ttyACM0", "1-3", "2341", "0043", "Arduino", "Uno", "");
  t.usb("ttyUSB1", "1-4", "1a86", "7523", "", "USB2.0-Serial", "bad\x01serial");
  t.uart("ttyS0");
  struct Case {
    std::string path;  // under dev/
    std::string kernel;
    bool usb;
    std::string vid, pid, maker, product, serial, by_id;
  };
  const Case cases[] = {
      {"ttyUSB0", "ttyUSB0", true, "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI", "serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"},
      // The by-id link names the same adapter.
      {"serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0", true, "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI",
       "serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"},
      {"ttyACM0", "ttyACM0", true, "2341", "0043", "Arduino", "Uno", "", ""},
      // Device text is kept printable.
      {"ttyUSB1", "ttyUSB1", true, "1a86", "7523", "", "USB2.0-Serial", "bad?serial", ""},
      {"ttyS0", "ttyS0", false, "", "", "", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const PortDetails d = t.read(c.path);
    EXPECT_TRUE(d.exists);
    EXPECT_EQ(d.path, t.dev(c.path));
    EXPECT_EQ(d.kernel_name, c.kernel);
    EXPECT_EQ(d.usb, c.usb);
    EXPECT_EQ(d.vendor_id, c.vid);
    EXPECT_EQ(d.product_id, c.pid);
    EXPECT_EQ(d.manufacturer, c.maker);
    EXPECT_EQ(d.product, c.product);
    EXPECT_EQ(d.serial, c.serial);
    EXPECT_EQ(d.by_id, c.by_id.empty() ? "" : t.dev(c.by_id));
    EXPECT_TRUE(d.may_open);  // files of this test's own
    EXPECT_EQ(d.access_fix, "");
  }
  const PortDetails gone = t.read("ttyUSB9");
  EXPECT_FALSE(gone.exists);
  EXPECT_EQ(PortDetailsText(gone), t.dev("ttyUSB9") + ": no such device");
}

TEST(PortDetails, AccessFixNamesTheGroupTheDeviceReallyHas) {
  struct Case {
    std::string group;
    bool group_rw;
    std::string fix;
  };
  const Case cases[] = {
      {"dialout", true, "add yourself to the dialout group: sudo usermod -aG dialout $USER, then log in again"},
      {"uucp", true, "add yourself to the uucp group: sudo usermod -aG uucp $USER, then log in again"},
      // Joining the group does not help when the group may not read and write.
      {"dialout", false, "ask the administrator for read and write access to /dev/ttyUSB0 (group dialout)"},
      {"root", true, "ask the administrator for read and write access to /dev/ttyUSB0 (group root)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.group);
    EXPECT_EQ(PortAccessFix("/dev/ttyUSB0", c.group, c.group_rw), c.fix);
  }
}

TEST(PortDetails, DialogTextSaysWhatThePortIsAndHowToGetAccess) {
  PortDetails usb;
  usb.path = "/dev/ttyUSB0";
  usb.exists = usb.usb = true;
  usb.vendor_id = "0403";
  usb.product_id = "6001";
  usb.manufacturer = "FTDI";
  usb.product = "FT232R USB UART";
  usb.serial = "A50285BI";
  usb.by_id = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
  usb.may_open = true;
  EXPECT_EQ(PortDetailsText(usb), "USB 0403:6001 FTDI FT232R USB UART\nserial number A50285BI\n/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\nyou may open it");

  PortDetails denied;
  denied.path = "/dev/ttyS0";
  denied.exists = true;
  denied.may_open = false;
  denied.access_fix = PortAccessFix("/dev/ttyS0", "dialout", true);
  EXPECT_EQ(PortDetailsText(denied), "not a USB adapter\nyou may not open it: add yourself to the dialout group: sudo usermod -aG dialout $USER, then log in again");

  PortDetails bare = usb;
  bare.manufacturer = bare.product = bare.serial = bare.by_id = "";
  EXPECT_EQ(PortDetailsText(bare), "USB 0403:6001\nserial number (none)\nyou may open it");
}

// The connection dialog shows the details of the port in its box, typed or
// picked from the scan's list, before Yes is pressed.
TEST(PortDetails, TheConnectionDialogShowsThePortInItsBox) {
  SimBench b;
  b.ctx.app.exe_name = "TQ58_LIT_bmsmon";
  std::vector<std::string> asked;
  b.ctx.PortDetailsOf = [&asked](const std::string& path) {
    asked.push_back(path);
    PortDetails d;
    d.path = path;
    d.exists = true;
    d.may_open = false;
    d.access_fix = PortAccessFix(path, "dialout", true);
    return d;
  };
  CreateApplication(b.ctx);
  TFormConfig& f = b.ctx.FormConfig;
  f.CobBoxInterfaceName.set_items({"/dev/ttyUSB0", "/dev/ttyUSB1"});
  f.CobBoxInterfaceName.select(1);
  EXPECT_EQ(f.LabelPortDetails.text(), "not a USB adapter\nyou may not open it: add yourself to the dialout group: sudo usermod -aG dialout $USER, then log in again");
  f.CobBoxInterfaceName.type("VirtualPack");
  EXPECT_EQ(f.LabelPortDetails.text(), "VirtualPack: the built-in virtual pack");
  f.CobBoxInterfaceName.select(0);
  EXPECT_EQ(asked, (std::vector<std::string>{"/dev/ttyUSB1", "/dev/ttyUSB0"}));
  f.CobBoxInterfaceName.type("");
  EXPECT_EQ(f.LabelPortDetails.text(), "");
}

TEST(PortLocator, TheSameUsbSerialNumberOnAnyTtyIsTheSameAdapter) {
  FakeTree t;
  t.usb("ttyUSB0", "1-2", "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI");
  SysfsPortLocator loc = t.locator();
  const PortSighting was = loc.look(t.dev("ttyUSB0"));
  ASSERT_TRUE(was.present);
  EXPECT_EQ(was.usb_serial, "A50285BI");
  EXPECT_FALSE(loc.find(was, t.dev("ttyUSB0")).present) << "the adapter still plugged in is no return";

  t.remove("ttyUSB0", "1-2");
  EXPECT_FALSE(loc.find(was, t.dev("ttyUSB0")).present);
  t.usb("ttyUSB0", "1-3", "0403", "6001", "FTDI", "FT232R USB UART", "B7777777");
  EXPECT_FALSE(loc.find(was, t.dev("ttyUSB0")).present) << "another adapter on the same name";
  t.usb("ttyUSB1", "1-4", "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI");
  const PortSighting back = loc.find(was, t.dev("ttyUSB0"));
  EXPECT_TRUE(back.present);
  EXPECT_EQ(back.path, t.dev("ttyUSB1"));
}

TEST(PortLocator, AByIdLinkIsFollowedToTheAdaptersNewTty) {
  FakeTree t;
  t.usb("ttyUSB0", "1-2", "0403", "6001", "FTDI", "FT232R USB UART", "");
  t.by_id("usb-FTDI_FT232R_USB_UART-if00-port0", "ttyUSB0");
  SysfsPortLocator loc = t.locator();
  const std::string link = t.dev("serial/by-id/usb-FTDI_FT232R_USB_UART-if00-port0");
  for (const bool by_link : {true, false}) {
    SCOPED_TRACE(by_link ? "opened by the link" : "opened by the tty");
    const std::string name = by_link ? link : t.dev("ttyUSB0");
    const PortSighting was = loc.look(name);
    ASSERT_TRUE(was.present);
    EXPECT_EQ(was.by_id, link);
    t.remove("ttyUSB0", "1-2");
    EXPECT_FALSE(loc.find(was, name).present);
    t.usb("ttyUSB2", "1-2", "0403", "6001", "FTDI", "FT232R USB UART", "");
    t.by_id("usb-FTDI_FT232R_USB_UART-if00-port0", "ttyUSB2");
    const PortSighting back = loc.find(was, name);
    EXPECT_TRUE(back.present);
    EXPECT_EQ(back.path, by_link ? link : t.dev("ttyUSB2"));
    t.remove("ttyUSB2", "1-2");
    t.usb("ttyUSB0", "1-2", "0403", "6001", "FTDI", "FT232R USB UART", "");
    t.by_id("usb-FTDI_FT232R_USB_UART-if00-port0", "ttyUSB0");
  }
}

TEST(PortLocator, ALinkIsBackOnlyWhenMadeAnew) {
  FakeTree t;
  const std::string link = t.dir() / "pack";
  t.dir().write("dev/pts5", "");
  fs::create_symlink(t.dev("pts5"), link);
  SysfsPortLocator loc = t.locator();
  const PortSighting was = loc.look(link);
  ASSERT_TRUE(was.present);
  EXPECT_EQ(was.usb_serial, "");
  fs::remove(t.dev("pts5"));
  EXPECT_FALSE(loc.find(was, link).present) << "a dangling link";
  t.dir().write("dev/pts5", "");
  EXPECT_FALSE(loc.find(was, link).present) << "the old link, now leading to somebody else's terminal";
  fs::remove(link);
  fs::create_symlink(t.dev("pts5"), link);
  const PortSighting back = loc.find(was, link);
  EXPECT_TRUE(back.present);
  EXPECT_EQ(back.path, link);
}

}  // namespace
}  // namespace bms
