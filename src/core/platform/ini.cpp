#include "core/platform/ini.h"

#include <cstdint>
#include <string_view>
#include <vector>

#include "core/platform/files.h"

namespace bms {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

// One line of the file: [begin, end) is its text without the line end,
// [end, next) the line end itself ("\r\n", "\n" or nothing on the last line).
struct Line {
  enum Kind { Other, Section, Key };
  size_t begin = 0, end = 0, next = 0;
  Kind kind = Other;
  std::string_view name;   // section or key name, trimmed
  size_t value_begin = 0;  // Key: first byte after '=' and its blanks
};

std::vector<Line> SplitLines(const std::string& text) {
  std::vector<Line> lines;
  size_t pos = 0;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;  // a byte-order mark is no part of the first line
  while (pos < text.size()) {
    Line l;
    l.begin = pos;
    const size_t nl = text.find('\n', pos);
    l.next = nl == std::string::npos ? text.size() : nl + 1;
    l.end = nl == std::string::npos ? text.size() : nl;
    if (l.end > l.begin && text[l.end - 1] == '\r') --l.end;
    const std::string_view body = Trim(std::string_view(text).substr(l.begin, l.end - l.begin));
    if (!body.empty() && body.front() == '[') {
      const size_t close = body.find(']');
      if (close != std::string_view::npos) {
        l.kind = Line::Section;
        l.name = Trim(body.substr(1, close - 1));
      }
    } else if (!body.empty() && body.front() != ';') {
      const std::string_view raw(text.data() + l.begin, l.end - l.begin);
      const size_t eq = raw.find('=');
      if (eq != std::string_view::npos && !Trim(raw.substr(0, eq)).empty()) {
        l.kind = Line::Key;
        l.name = Trim(raw.substr(0, eq));
        size_t v = l.begin + eq + 1;
        while (v < l.end && IsBlank(text[v])) ++v;
        l.value_begin = v;
      }
    }
    lines.push_back(l);
    pos = l.next;
  }
  return lines;
}

// Index of the first header of the section, or -1.
int FindSection(const std::vector<Line>& lines, std::string_view section) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].kind == Line::Section && SameName(lines[i].name, section)) return static_cast<int>(i);
  return -1;
}

// Index of the first line of the key inside the section starting at `header`,
// or -1; *last_key gets the last key line of the section (or the header).
int FindKey(const std::vector<Line>& lines, int header, std::string_view key, int* last_key) {
  *last_key = header;
  for (size_t i = static_cast<size_t>(header) + 1; i < lines.size() && lines[i].kind != Line::Section; ++i) {
    if (lines[i].kind != Line::Key) continue;
    if (SameName(lines[i].name, key)) return static_cast<int>(i);
    *last_key = static_cast<int>(i);
  }
  return -1;
}

std::string Cut(std::string_view s) { return std::string(s.substr(0, kIniMaxValue)); }

// Looks the value up; false when the file, section or key is missing.
bool Lookup(const std::string& section, const std::string& key, const std::string& path, std::string* value) {
  std::string text;
  // A pipe, a device, a folder or a huge file is no INI file: read as missing.
  if (!ReadInputFile(path, &text)) return false;
  const std::vector<Line> lines = SplitLines(text);
  const int header = FindSection(lines, Trim(section));
  if (header < 0) return false;
  int last = 0;
  const int at = FindKey(lines, header, Trim(key), &last);
  if (at < 0) return false;
  const Line& l = lines[static_cast<size_t>(at)];
  std::string_view v = Trim(std::string_view(text).substr(l.value_begin, l.end - l.value_begin));
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) v = v.substr(1, v.size() - 2);
  *value = Cut(v);
  return true;
}

bool HasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

}  // namespace

std::string IniFileProblem(const std::string& path) {
  std::string text, why;
  if (!FileExists(path) || ReadInputFile(path, &text, &why)) return "";
  return why;
}

std::string GetPrivateProfileString(const std::string& section, const std::string& key, const std::string& default_value, const std::string& path) {
  std::string value;
  if (Lookup(section, key, path, &value)) return value;
  std::string_view d = default_value;
  while (!d.empty() && IsBlank(d.back())) d.remove_suffix(1);
  return Cut(d);
}

int GetPrivateProfileInt(const std::string& section, const std::string& key, int default_value, const std::string& path) {
  std::string value;
  if (!Lookup(section, key, path, &value) || value.empty()) return default_value;
  size_t i = 0;
  bool negative = false;
  if (i < value.size() && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
  uint32_t n = 0;
  if (i + 1 < value.size() && value[i] == '0' && (value[i + 1] == 'x' || value[i + 1] == 'X')) {
    for (i += 2; i < value.size(); ++i) {
      const char c = Lower(value[i]);
      const int digit = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
      if (digit < 0) break;
      n = n * 16u + static_cast<uint32_t>(digit);
    }
  } else {
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) n = n * 10u + static_cast<uint32_t>(value[i] - '0');
  }
  if (negative) n = 0u - n;
  return static_cast<int>(n);
}

namespace {

// The line end that closes the last line of a text without its line feed.
// A last line ending in a bare CR reads as ended there, so only the LF is
// added: adding a whole line end would make that CR part of its value.
std::string LineEndAfter(const std::string& text, const std::string& eol) { return !text.empty() && text.back() == '\r' ? "\n" : eol; }

// Puts key=value into section of the file text `text` (private-profile
// rules of the header); false with *why when a name or the value cannot be
// stored.
bool ApplyProfileString(const std::string& section_in, const std::string& key_in, const std::string& value, const std::string& path, std::string& text, std::string* why) {
  const std::string_view section = Trim(section_in);
  const std::string_view key = Trim(key_in);
  auto refuse = [&](const std::string& reason) {
    if (why) *why = "cannot write [" + section_in + "] " + key_in + " to " + path + ": " + reason;
    return false;
  };
  if (section.empty() || key.empty()) return refuse("empty section or key name");
  if (HasLineBreak(section_in) || HasLineBreak(key_in) || HasLineBreak(value)) return refuse("a line break in a name or value");
  if (section.find(']') != std::string_view::npos) return refuse("']' in the section name");
  if (key.find('=') != std::string_view::npos || key.front() == ';' || key.front() == '[') return refuse("the key name cannot be stored");

  const size_t first_nl = text.find('\n');
  const std::string eol = (first_nl != std::string::npos && (first_nl == 0 || text[first_nl - 1] != '\r')) ? "\n" : "\r\n";
  const std::string entry = std::string(key) + "=" + value;

  const std::vector<Line> lines = SplitLines(text);
  std::string out;
  const int header = FindSection(lines, section);
  if (header >= 0) {
    int last = header;
    const int at = FindKey(lines, header, key, &last);
    if (at >= 0) {
      const Line& l = lines[static_cast<size_t>(at)];
      out = text.substr(0, l.value_begin) + value + text.substr(l.end);
    } else {
      const Line& l = lines[static_cast<size_t>(last)];
      if (l.next > l.begin && text[l.next - 1] == '\n')  // the line has its line feed (a bare CR ends only the last line)
        out = text.substr(0, l.next) + entry + eol + text.substr(l.next);
      else
        out = text + LineEndAfter(text, eol) + entry;
    }
  } else {
    out = text;
    if (!out.empty()) {
      if (out.back() != '\n') out += LineEndAfter(out, eol);
      const bool last_blank = lines.empty() || Trim(std::string_view(text).substr(lines.back().begin, lines.back().end - lines.back().begin)).empty();
      if (!last_blank) out += eol;
    }
    out += "[" + std::string(section) + "]" + eol + entry + eol;
  }
  text = std::move(out);
  return true;
}

bool WriteProfileStrings(const std::string& section, const std::vector<std::pair<std::string, std::string>>& entries, const std::string& path, std::string* why) {
  std::string text;
  std::string read_why;
  if (FileExists(path) && !ReadInputFile(path, &text, &read_why)) {
    if (why) *why = "cannot write [" + section + "] to " + path + ": " + read_why;
    return false;
  }
  const std::string before = text;
  for (const auto& [key, value] : entries)
    if (!ApplyProfileString(section, key, value, path, text, why)) return false;
  if (text == before && FileExists(path)) return true;
  std::string fail;
  if (!WriteFileAtomic(path, text, &fail)) {
    if (why) *why = fail;
    return false;
  }
  return true;
}

}  // namespace

bool WritePrivateProfileString(const std::string& section_in, const std::string& key_in, const std::string& value, const std::string& path, std::string* why) {
  return WriteProfileStrings(section_in, {{key_in, value}}, path, why);
}

bool WritePrivateProfileStrings(const std::string& section, const std::vector<std::pair<std::string, std::string>>& entries, const std::string& path, std::string* why) {
  return WriteProfileStrings(section, entries, path, why);
}

}  // namespace bms
