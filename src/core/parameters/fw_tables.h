#pragma once
// The tables of the firmware data dialog, each field described once: the 32
// protection values (page, bytes, encoding, edit, label, unit, MTD.ini key)
// and the 101 points of the SOC-OCV table. The decoder, the transfers, the
// MTD.ini loader, the Qt dialog and the tests all read these tables.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace bms {

enum class FwEncoding { S8, U8, U16, U24 };

struct ProtectionField {
  int page;  // 1..6
  int byte;  // first data byte d0..d7 of the page
  FwEncoding encoding;
  const char* edit;  // control of TPagesDlgFWData
  const char* label;
  const char* unit;
  const char* key;        // MTD.ini key, section "FWProtectParapmterLoad"
  const char* mirror_of;  // source edit whose text this edit follows, or nullptr
  bool read_only;         // the edit is disabled and read-only
  bool ov_uv;             // in the group "OV UV Read/Write" (disabled as a whole)
};

inline constexpr size_t kProtectionFieldCount = 32;
inline constexpr size_t kProtectionPageCount = 6;
inline constexpr size_t kProtectionImageSize = kProtectionPageCount * 8;
extern const std::array<ProtectionField, kProtectionFieldCount> kProtectionFields;

inline constexpr const char* kMtdFile = "MTD.ini";
inline constexpr const char* kMtdProtectionSection = "FWProtectParapmterLoad";
inline constexpr const char* kMtdSocvSection = "FWSOCVTableLoad";
inline constexpr const char* kMtdCellRSection = "Set";

inline constexpr uint16_t kRegProtectionRead = 0x3300;
inline constexpr uint16_t kRegProtectionWrite = 0x4400;
inline constexpr uint16_t kRegSocvRead = 0x100D;
inline constexpr uint16_t kRegSocvWrite = 0x4500;
inline constexpr int kSocvPoints = 101;
inline constexpr int kSocvPages = 26;

size_t EncodingWidth(FwEncoding e);
int64_t EncodingMin(FwEncoding e);
int64_t EncodingMax(FwEncoding e);
// The edit text of a field from the data bytes of its page.
std::string DecodeProtectionField(const ProtectionField& f, const uint8_t* page_data);
// Puts a value (in the field's range) into its page bytes.
void EncodeProtectionField(const ProtectionField& f, int64_t value, uint8_t* page_data);

// A decimal integer as the edits hold it: optional sign, digits, nothing
// else. Empty when the text is not one or lies outside [lo, hi].
std::optional<int64_t> ParseEditNumber(std::string_view text, int64_t lo, int64_t hi);

// The edit and the MTD.ini key of SOC-OCV point n (1..101).
std::string SocvEditName(int n);
std::string SocvKey(int n);  // "SOV" + n + "Load"

}  // namespace bms
