#include "core/platform/safe_text.h"

#include <cstdio>

namespace bms {

std::string CsvTextField(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 1);
  if (!text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@')) out += '\'';
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == ',')
      out += ';';
    else if (u < 0x20 || u == 0x7F)
      out += ' ';
    else
      out += c;
  }
  return out;
}

std::string TerminalSafe(std::string_view text, bool quote) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\\' || (quote && c == '"')) {
      out += '\\';
      out += c;
    } else if (u < 0x20 || u == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace bms
