#include "core/platform/cp950.h"

#include <errno.h>
#include <iconv.h>

#include <vector>

namespace bms {

namespace {

// Length of the unconvertible unit that starts at s[0], so it can be skipped
// as a whole and replaced by one '?'.
using UnitLength = size_t (*)(const unsigned char* s, size_t left);

size_t Utf8UnitLength(const unsigned char* s, size_t left) {
  const unsigned char c = s[0];
  size_t len = 1;
  if (c >= 0xC2 && c <= 0xDF)
    len = 2;
  else if (c >= 0xE0 && c <= 0xEF)
    len = 3;
  else if (c >= 0xF0 && c <= 0xF4)
    len = 4;
  size_t k = 1;
  while (k < len && k < left && (s[k] & 0xC0) == 0x80) ++k;
  return k;
}

size_t Cp950UnitLength(const unsigned char* s, size_t left) {
  const bool lead = s[0] >= 0x81 && s[0] <= 0xFE;
  const bool trail = left >= 2 && ((s[1] >= 0x40 && s[1] <= 0x7E) || (s[1] >= 0xA1 && s[1] <= 0xFE));
  return lead && trail ? 2 : 1;
}

// Converts with iconv, replacing every unconvertible unit by '?'. Without
// the converter (a system without the code page) ASCII passes and every other
// unit becomes '?'.
std::string Convert(std::string_view in, const char* to, const char* from, UnitLength unit) {
  std::string out;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1) && std::string_view(to) == "CP950") cd = iconv_open("BIG5", from);
  if (cd == reinterpret_cast<iconv_t>(-1) && std::string_view(from) == "CP950") cd = iconv_open(to, "BIG5");
  const auto* src = reinterpret_cast<const unsigned char*>(in.data());
  size_t left = in.size();
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    while (left > 0) {
      const size_t n = src[0] < 0x80 ? 1 : unit(src, left);
      out += src[0] < 0x80 ? static_cast<char>(src[0]) : '?';
      src += n;
      left -= n;
    }
    return out;
  }
  std::vector<char> buf(in.size() * 2 + 16);
  while (left > 0) {
    char* inp = const_cast<char*>(reinterpret_cast<const char*>(src));
    char* outp = buf.data();
    size_t room = buf.size();
    const size_t rc = iconv(cd, &inp, &left, &outp, &room);
    const int err = errno;
    out.append(buf.data(), buf.size() - room);
    src = reinterpret_cast<const unsigned char*>(inp);
    if (rc != static_cast<size_t>(-1)) break;
    if (err == E2BIG) continue;  // the buffer was full: go on with the rest
    // EILSEQ (no such character) or EINVAL (cut short at the end).
    const size_t n = unit(src, left);
    out += '?';
    src += n;
    left -= n;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial shift state
  }
  iconv_close(cd);
  return out;
}

}  // namespace

std::string Utf8ToCp950(std::string_view utf8) { return Convert(utf8, "CP950", "UTF-8", Utf8UnitLength); }

std::string Cp950ToUtf8(std::string_view cp950) { return Convert(cp950, "UTF-8", "CP950", Cp950UnitLength); }

}  // namespace bms
