#include "core/parameters/fw_tables.h"

namespace bms {

namespace {
constexpr FwEncoding S8 = FwEncoding::S8;
constexpr FwEncoding U8 = FwEncoding::U8;
constexpr FwEncoding U16 = FwEncoding::U16;
constexpr FwEncoding U24 = FwEncoding::U24;
constexpr const char* kC = "\xE2\x84\x83";  // ℃
}  // namespace

// clang-format off
const std::array<ProtectionField, kProtectionFieldCount> kProtectionFields = {{
    {1, 0, S8, "EditCOTEvent", "COT Event", kC, "COT_Event", nullptr, false, false},
    {1, 1, S8, "EditCOTRelease", "COT Release", kC, "COT_Release", nullptr, false, false},
    {1, 2, U8, "EditCOTEvtDly", "COT Evt Dly", "sec", "COT_Event_DelayTime", nullptr, false, false},
    {1, 3, U8, "EditCOTRlsDly", "COT Rls Dly", "sec", "COT_Release_DelayTime", nullptr, false, false},
    {1, 4, S8, "EditCUTEvent", "CUT Event", kC, "CUT_Event", nullptr, false, false},
    {1, 5, S8, "EditCUTRelease", "CUT Release", kC, "CUT_Release", nullptr, false, false},
    {1, 6, U8, "EditCUTEvtDly", "CUT Evt Dly", "sec", "CUT_Event_DelayTime", "EditCOTEvtDly", true, false},
    {1, 7, U8, "EditCUTRlsDly", "CUT Rls Dly", "sec", "CUT_Release_DelayTime", "EditCOTRlsDly", true, false},
    {2, 0, S8, "EditDOTEvent", "DOT Event", kC, "DOT_Event", nullptr, false, false},
    {2, 1, S8, "EditDOTRelease", "DOT Release", kC, "DOT_Release", nullptr, false, false},
    {2, 2, U8, "EditDOTEvtDly", "DOT Evt Dly", "sec", "DOT_Event_DelayTime", nullptr, false, false},
    {2, 3, U8, "EditDOTRlsDly", "DOT Rls Dly", "sec", "DOT_Release_DelayTime", nullptr, false, false},
    {2, 4, S8, "EditDUTEvent", "DUT Event", kC, "DUT_Event", nullptr, false, false},
    {2, 5, S8, "EditDUTRelease", "DUT Release", kC, "DUT_Releae", nullptr, false, false},
    {2, 6, U8, "EditDUTEvtDly", "DUT Evt Dly", "sec", "DUT_Event_DelayTime", "EditDOTEvtDly", true, false},
    {2, 7, U8, "EditDUTRlsDly", "DUT Rls Dly", "sec", "DUT_Release_DelayTime", "EditDOTRlsDly", true, false},
    {3, 0, U24, "EditCOCEvent", "COC Event", "mA", "COC_Event", nullptr, false, false},
    {3, 3, U24, "EditCOCRelease", "COC Release", "mA", "COC_Release", nullptr, false, false},
    {3, 6, U8, "EditCOCEvtDly", "COC Evt Dly", "sec", "COC_Event_DelayTime", nullptr, false, false},
    {3, 7, U8, "EditCOCRlsDly", "COC Rls Dly", "sec", "COC_Release_DelayTime", nullptr, false, false},
    {4, 0, U24, "EditDOCEvent", "DOC Event", "mA", "DOC_Event", nullptr, false, false},
    {4, 3, U24, "EditDOCRelease", "DOC Release", "mA", "DOC_Release", nullptr, false, false},
    {4, 6, U8, "EditDOCEvtDly", "DOC Evt Dly", "sec", "DOC_Event_DelayTime", nullptr, false, false},
    {4, 7, U8, "EditDOCRlsDly", "DOC Rls Dly", "sec", "DOC_Release_DelayTime", nullptr, false, false},
    {5, 0, U16, "EditSWOVSet", "OV Thd", "mV", "OV_Threshold", nullptr, false, true},
    {5, 2, U16, "EditSWOVClear", "OV Rls", "mV", "OV_Release", nullptr, false, true},
    {5, 4, U8, "EditSWOVDelay", "OV Thd Dly", "sec", "OV_Threshold_DelayTime", nullptr, false, true},
    {5, 5, U8, "EditSWOVRelease", "OV Rls Dly", "sec", "OV_Release_DelayTime", nullptr, false, true},
    {6, 0, U16, "EditSWUVSet", "UV Thd", "mV", "UV_Threshold", nullptr, false, true},
    {6, 2, U16, "EditSWUVClear", "UV Rls", "mV", "UV_Release", nullptr, false, true},
    {6, 4, U8, "EditSWUVDelay", "UV Thd Dly", "sec", "UV_Threshold_DelayTime", nullptr, true, true},
    {6, 5, U8, "EditSWUVRelease", "UV Rls Dly", "sec", "UV_Release_DelayTime", nullptr, true, true},
}};
// clang-format on

size_t EncodingWidth(FwEncoding e) {
  switch (e) {
    case FwEncoding::U16:
      return 2;
    case FwEncoding::U24:
      return 3;
    default:
      return 1;
  }
}

int64_t EncodingMin(FwEncoding e) { return e == FwEncoding::S8 ? -128 : 0; }

int64_t EncodingMax(FwEncoding e) {
  switch (e) {
    case FwEncoding::S8:
      return 127;
    case FwEncoding::U8:
      return 255;
    case FwEncoding::U16:
      return 65535;
    case FwEncoding::U24:
      return 16777215;
  }
  return 0;
}

std::string DecodeProtectionField(const ProtectionField& f, const uint8_t* d) {
  const uint8_t* p = d + f.byte;
  if (f.encoding == FwEncoding::S8) return p[0] >= 0x80 ? "-" + std::to_string(256 - p[0]) : std::to_string(p[0]);
  uint32_t v = 0;
  for (size_t i = 0; i < EncodingWidth(f.encoding); ++i) v = v << 8 | p[i];
  return std::to_string(v);
}

void EncodeProtectionField(const ProtectionField& f, int64_t value, uint8_t* d) {
  const size_t w = EncodingWidth(f.encoding);
  const auto u = static_cast<uint32_t>(value);  // two's complement for S8
  for (size_t i = 0; i < w; ++i) d[static_cast<size_t>(f.byte) + i] = static_cast<uint8_t>(u >> (8 * (w - 1 - i)));
}

std::optional<int64_t> ParseEditNumber(std::string_view text, int64_t lo, int64_t hi) {
  if (text.empty()) return std::nullopt;
  size_t at = 0;
  bool neg = false;
  if (text[0] == '-' || text[0] == '+') {
    neg = text[0] == '-';
    at = 1;
  }
  if (at >= text.size() || text.size() - at > 12) return std::nullopt;
  int64_t v = 0;
  for (size_t i = at; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    v = v * 10 + (text[i] - '0');
  }
  if (neg) v = -v;
  if (v < lo || v > hi) return std::nullopt;
  return v;
}

std::string SocvEditName(int n) { return "EditSOCV" + std::to_string(n); }
std::string SocvKey(int n) { return "SOV" + std::to_string(n) + "Load"; }

}  // namespace bms
