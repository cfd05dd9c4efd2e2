#pragma once
// A fresh folder under /tmp for one test, removed with everything in it.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace bms::testing {

class TempFolder {
 public:
  TempFolder() {
    char tmpl[] = "/tmp/bms_test_XXXXXX";
    const char* made = mkdtemp(tmpl);
    path_ = made ? made : "";
  }
  ~TempFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  void write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(path_ + "/" + name, std::ios::binary);
    out << bytes;
  }
  std::string read(const std::string& name) const {
    std::ifstream in(path_ + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  std::string path_;
};

}  // namespace bms::testing
