#include "core/platform/port_scan.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

namespace bms {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool LinkExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::string LinkBaseName(const std::string& link) {
  char buf[4096];
  const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
  if (n <= 0) return "";
  std::string target(buf, static_cast<size_t>(n));
  while (!target.empty() && target.back() == '/') target.pop_back();
  const size_t slash = target.rfind('/');
  return slash == std::string::npos ? target : target.substr(slash + 1);
}

// A serial-core port reports its UART type; 0 means no UART was found.
bool PhantomPort(const std::string& entry_dir) {
  std::ifstream in(entry_dir + "/type");
  std::string type;
  if (!(in >> type)) return false;
  return type == "0";
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

bool NaturalLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      size_t ie = i, je = j;
      while (ie < a.size() && IsDigit(a[ie])) ++ie;
      while (je < b.size() && IsDigit(b[je])) ++je;
      size_t is = i, js = j;  // skip leading zeros, then compare by length and digits
      while (is + 1 < ie && a[is] == '0') ++is;
      while (js + 1 < je && b[js] == '0') ++js;
      if (ie - is != je - js) return ie - is < je - js;
      const int c = a.compare(is, ie - is, b, js, je - js);
      if (c != 0) return c < 0;
      if (ie - i != je - j) return ie - i < je - j;
      i = ie;
      j = je;
      continue;
    }
    if (a[i] != b[j]) return a[i] < b[j];
    ++i;
    ++j;
  }
  return a.size() - i < b.size() - j;
}

std::vector<SerialDeviceEntry> ListSerialDevices(const std::string& sysfs_root, const std::string& dev_root) {
  std::vector<SerialDeviceEntry> list;
  DIR* dir = ::opendir(sysfs_root.c_str());
  if (dir == nullptr) return list;
  while (const dirent* d = ::readdir(dir)) {
    const std::string name = d->d_name;
    if (name.empty() || name[0] == '.') continue;
    const std::string entry = sysfs_root + "/" + name;
    if (!LinkExists(entry + "/device")) continue;  // virtual terminals, ptmx, console
    if (PhantomPort(entry)) continue;
    SerialDeviceEntry e;
    e.kernel_name = name;
    e.path = dev_root + "/" + name;
    if (!Exists(e.path)) continue;
    e.driver = LinkBaseName(entry + "/device/driver");
    e.usb = StartsWith(name, "ttyUSB") || StartsWith(name, "ttyACM");
    list.push_back(std::move(e));
  }
  ::closedir(dir);
  std::sort(list.begin(), list.end(), [](const SerialDeviceEntry& a, const SerialDeviceEntry& b) { return NaturalLess(a.kernel_name, b.kernel_name); });
  return list;
}

int SerialPortNumber(const std::string& kernel_name) {
  size_t start = kernel_name.size();
  while (start > 0 && IsDigit(kernel_name[start - 1])) --start;
  if (start == kernel_name.size()) return 0;
  while (start + 1 < kernel_name.size() && kernel_name[start] == '0') ++start;
  if (kernel_name.size() - start > 6) return -1;
  return std::stoi(kernel_name.substr(start));
}

bool PortNumberInRange(const SerialDeviceEntry& e) {
  const int n = SerialPortNumber(e.kernel_name);
  return n >= 0 && n <= 255;
}

std::vector<SerialDeviceEntry> SelectScanPorts(const std::vector<SerialDeviceEntry>& list) {
  std::vector<SerialDeviceEntry> taken;
  for (const bool usb : {true, false}) {
    for (const SerialDeviceEntry& e : list)
      if (e.usb == usb && PortNumberInRange(e)) taken.push_back(e);
    if (!taken.empty()) break;
  }
  return taken;
}

}  // namespace bms
