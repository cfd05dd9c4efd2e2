// BLOCK_C.ini, the parameter block C as a file. A load shows each key's
// value (or "-1" for a missing key); a value that converts to registers
// gives back its own text from those registers; and saving the edits and
// loading them again gives the same edits.
#include <array>
#include <string>

#include "core/parameters/eep2.h"
#include "core/platform/ini.h"
#include "fuzz_support.h"

using namespace bms;
using namespace bms::fuzz;

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Values the reader gives back as they stand (see the INI reader's rules).
bool PlainValue(const std::string& v) {
  if (v.empty()) return true;
  if (IsBlank(v.front()) || IsBlank(v.back())) return false;
  return !(v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front());
}

}  // namespace

BMS_FUZZ_TARGET(block_c_ini) {
  Input in(data, size);
  in.u8();  // mode byte: the file has no checksum
  Bench b;
  Context& ctx = b.ctx;
  const std::string content = in.text_rest();
  const std::string path = WriteScratch("BLOCK_C.ini", content);
  BMS_FUZZ_CHECK(BlockCFilePath(ctx) == path, "BLOCK_C.ini is looked for in the current folder");
  BMS_FUZZ_CHECK(LoadBlockCFile(ctx, path), "an existing BLOCK_C.ini was not loaded");

  const auto& fields = Eep2BlockCFields();
  const auto& edits = ctx.Form_EEP_PARAMETER.BlockCEdits;
  BMS_FUZZ_CHECK(fields.size() == edits.size(), "one edit per field");
  std::vector<std::string> loaded;
  std::array<int32_t, kEep2BlockSize> words{};
  for (size_t i = 0; i < fields.size(); ++i) {
    const std::string text = edits[i]->text();
    BMS_FUZZ_CHECK(text == GetPrivateProfileString("Block_C", fields[i].key, "-1", path), fields[i].edit + " is not the file's value");
    loaded.push_back(text);
    std::string why;
    if (Eep2FieldWords(fields[i], text, words.data(), &why)) {
      const std::string back = Eep2FieldText(fields[i], words.data());
      // Numbers come back in their plain decimal form, the cell type as it was.
      if (fields[i].encoding == Eep2Encoding::Text) {
        BMS_FUZZ_CHECK(back == text, fields[i].edit + ": \"" + text + "\" came back as \"" + back + "\"");
      } else {
        int64_t lo = 0, hi = 0;
        Eep2Range(fields[i].encoding, &lo, &hi);
        const long long v = std::stoll(back);
        BMS_FUZZ_CHECK(v >= lo && v <= hi, fields[i].edit + " came back outside its range: " + back);
        std::array<int32_t, kEep2BlockSize> again{};
        BMS_FUZZ_CHECK(Eep2FieldWords(fields[i], back, again.data(), &why), fields[i].edit + " does not take its own text " + back);
        BMS_FUZZ_CHECK(Eep2FieldText(fields[i], again.data()) == back, fields[i].edit + " is not stable");
      }
    } else {
      BMS_FUZZ_CHECK(!why.empty(), fields[i].edit + " refused without a reason");
    }
  }

  const std::string copy = WriteScratch("BLOCK_C_copy.ini", content);
  std::string why;
  if (!SaveBlockCFile(ctx, copy, &why)) {
    BMS_FUZZ_CHECK(!why.empty(), "a refused save says nothing");
    BMS_FUZZ_CHECK(ReadWholeFile(copy) == content, "a refused save changed the file");
    return 0;
  }
  for (Control* c : edits) c->set_text("untouched");
  BMS_FUZZ_CHECK(LoadBlockCFile(ctx, copy), "the saved file was not loaded");
  for (size_t i = 0; i < fields.size(); ++i)
    if (PlainValue(loaded[i])) BMS_FUZZ_CHECK(edits[i]->text() == loaded[i], fields[i].edit + ": saved \"" + loaded[i] + "\", loaded \"" + edits[i]->text() + "\"");
  return 0;
}
