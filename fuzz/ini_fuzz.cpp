// The INI reader and writer on a fuzzed file: every lookup, a write of one
// key, then the checks a stored file relies on: a value written reads back
// the same, every other key keeps its value, a refused write leaves the file
// byte for byte, and a second write of the same value changes nothing.
#include <string>

#include "core/platform/ini.h"
#include "fuzz_support.h"

using namespace bms;
using namespace bms::fuzz;

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && IsBlank(s[a])) ++a;
  while (b > a && IsBlank(s[b - 1])) --b;
  return s.substr(a, b - a);
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool SameName(const std::string& a, const std::string& b) { return Lower(Trim(a)) == Lower(Trim(b)); }

// A value that the reader gives back as it stands: no blanks around it, no
// pair of quotes around it, not longer than the cut.
bool PlainValue(const std::string& v) {
  if (v.size() > kIniMaxValue || Trim(v) != v) return false;
  return !(v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front());
}

}  // namespace

BMS_FUZZ_TARGET(ini) {
  Input in(data, size);
  in.u8();  // mode byte: INI files carry no checksum
  const std::string section = in.until(0);
  const std::string key = in.until(0);
  const std::string value = in.until(0);
  const std::string other_section = in.until(0);
  const std::string other_key = in.until(0);
  const std::string text = in.text_rest();
  const std::string path = WriteScratch("fuzz.ini", text);

  const std::string missing = "\x01missing";
  const std::string old_value = GetPrivateProfileString(section, key, missing, path);
  const std::string other_before = GetPrivateProfileString(other_section, other_key, missing, path);
  BMS_FUZZ_CHECK(old_value.size() <= kIniMaxValue && other_before.size() <= kIniMaxValue, "a value longer than the cut");
  GetPrivateProfileInt(section, key, -7, path);
  if (old_value == missing) BMS_FUZZ_CHECK(GetPrivateProfileInt(section, key, -7, path) == -7, "a missing key gives its default");

  std::string why;
  const bool written = WritePrivateProfileString(section, key, value, path, &why);
  const std::string after = ReadWholeFile(path);
  if (!written) {
    BMS_FUZZ_CHECK(after == text, "a refused write changed the file");
    BMS_FUZZ_CHECK(!why.empty(), "a refused write says nothing");
    return 0;
  }
  const std::string read_back = GetPrivateProfileString(section, key, missing, path);
  if (PlainValue(value)) BMS_FUZZ_CHECK(read_back == value, "wrote \"" + value + "\", read back \"" + read_back + "\"");
  BMS_FUZZ_CHECK(read_back.size() <= kIniMaxValue, "a value longer than the cut");
  const bool same_key = SameName(section, other_section) && SameName(key, other_key);
  if (!same_key) {
    const std::string other_after = GetPrivateProfileString(other_section, other_key, missing, path);
    BMS_FUZZ_CHECK(other_after == other_before, "[" + other_section + "] " + other_key + " was \"" + other_before + "\", is \"" + other_after + "\"");
  }
  // A second write of the same value leaves the bytes as they are.
  BMS_FUZZ_CHECK(WritePrivateProfileString(section, key, value, path, &why), "a second write was refused: " + why);
  if (PlainValue(value)) BMS_FUZZ_CHECK(ReadWholeFile(path) == after, "writing the same value twice changed the file");
  return 0;
}
