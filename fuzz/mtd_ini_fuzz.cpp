// MTD.ini, the file the firmware data dialog loads its protection values
// and its SOC-OCV table from. A load takes every key or none; what it takes
// is the file's text; and a protection image built from loaded values
// decodes back to those values (each one within its field's encoding).
#include <string>

#include "core/parameters/fw_data.h"
#include "core/parameters/fw_tables.h"
#include "core/platform/ini.h"
#include "fuzz_support.h"

using namespace bms;
using namespace bms::fuzz;

BMS_FUZZ_TARGET(mtd_ini) {
  Input in(data, size);
  const bool socv = in.u8() & 1;
  Bench b;
  Context& ctx = b.ctx;
  const std::string path = WriteScratch(kMtdFile, in.text_rest());
  BMS_FUZZ_CHECK(MtdPath(ctx) == path, "MTD.ini is looked for in the current folder: " + MtdPath(ctx));

  if (!socv) {
    for (const ProtectionField& f : kProtectionFields) ProtectionEdit(ctx, f).set_text("untouched");
    ProtectionLoadWorker(ctx);
    const TransferOutcome o = LastOutcome(ctx, TransferKind::FwLoad);
    BMS_FUZZ_CHECK(!o.message.empty(), "a load says nothing");
    for (const ProtectionField& f : kProtectionFields) {
      const std::string text = ProtectionEdit(ctx, f).text();
      if (!o.ok) {
        if (!f.mirror_of) BMS_FUZZ_CHECK(text == "untouched", std::string("a failed load changed ") + f.edit);
        continue;
      }
      if (!f.mirror_of) BMS_FUZZ_CHECK(text == GetPrivateProfileString(kMtdProtectionSection, f.key, "", path), std::string(f.edit) + " is not the file's value");
    }
    if (!o.ok) return 0;
    std::array<uint8_t, kProtectionImageSize> image{};
    std::string why;
    if (!BuildProtectionImage(ctx, image, &why)) {
      BMS_FUZZ_CHECK(!why.empty(), "a refused image says nothing");
      return 0;
    }
    for (const ProtectionField& f : kProtectionFields) {
      const std::string text = ProtectionEdit(ctx, f).text();
      const auto v = ParseEditNumber(text, EncodingMin(f.encoding), EncodingMax(f.encoding));
      BMS_FUZZ_CHECK(v.has_value(), std::string(f.edit) + " went into the image outside its range: " + text);
      BMS_FUZZ_CHECK(DecodeProtectionField(f, &image[static_cast<size_t>(f.page - 1) * 8]) == std::to_string(*v), std::string(f.edit) + " does not decode back");
    }
    return 0;
  }

  for (int n = 1; n <= kSocvPoints; ++n) SocvEdit(ctx, n).set_text("untouched");
  SocvLoadWorker(ctx);
  const TransferOutcome o = LastOutcome(ctx, TransferKind::SocvLoad);
  BMS_FUZZ_CHECK(!o.message.empty(), "a load says nothing");
  for (int n = 1; n <= kSocvPoints; ++n) {
    const std::string text = SocvEdit(ctx, n).text();
    if (!o.ok) BMS_FUZZ_CHECK(text == "untouched", "a failed load changed SOC-OCV point " + std::to_string(n));
    BMS_FUZZ_CHECK(text.size() <= kIniMaxValue, "a point longer than the cut");
  }
  if (!o.ok) return 0;
  std::array<uint16_t, kSocvPoints> values{};
  std::string why;
  if (BuildSocvValues(ctx, values, &why)) {
    for (int n = 1; n <= kSocvPoints; ++n)
      BMS_FUZZ_CHECK(ParseEditNumber(SocvEdit(ctx, n).text(), 0, 65535) == values[static_cast<size_t>(n - 1)], "SOC-OCV point " + std::to_string(n));
  } else {
    BMS_FUZZ_CHECK(!why.empty(), "a refused table says nothing");
  }
  return 0;
}
