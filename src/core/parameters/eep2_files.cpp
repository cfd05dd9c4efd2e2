// The EEP2 window's files: BLOCK_C.ini (private-profile semantics) and the
// SOC table text file.
#include <vector>

#include "core/parameters/eep2.h"
#include "core/platform/files.h"
#include "core/platform/ini.h"

namespace bms {

namespace {

constexpr const char* kBlockCSection = "Block_C";
constexpr const char* kMissingKey = "-1";

}  // namespace

std::string BlockCFilePath(Context& ctx) {
  std::string dir = ctx.app.current_dir;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir + "BLOCK_C.ini";
}

bool SaveBlockCFile(Context& ctx, const std::string& path, std::string* why) {
  // All 89 keys in one replacement of the file: a failure leaves it as it was.
  const auto& fields = Eep2BlockCFields();
  const auto& edits = ctx.Form_EEP_PARAMETER.BlockCEdits;
  std::vector<std::pair<std::string, std::string>> entries;
  for (size_t i = 0; i < fields.size(); ++i) entries.emplace_back(fields[i].key, edits[i]->text());
  std::string reason;
  if (WritePrivateProfileStrings(kBlockCSection, entries, path, &reason)) return true;
  if (why) *why = "BLOCK_C.ini was not saved: " + reason;
  return false;
}

bool LoadBlockCFile(Context& ctx, const std::string& path) {
  if (!FileExists(path)) return false;
  const auto& fields = Eep2BlockCFields();
  const auto& edits = ctx.Form_EEP_PARAMETER.BlockCEdits;
  for (size_t i = 0; i < fields.size(); ++i) edits[i]->set_text(GetPrivateProfileString(kBlockCSection, fields[i].key, kMissingKey, path));
  return true;
}

int ReadSocTableFile(Context& ctx, const std::string& path, std::string* why, int* found) {
  if (found) *found = 0;
  std::string data;
  std::string reason;
  if (!ReadInputFile(path, &data, &reason)) {
    if (why) *why = "The SOC table file was refused: " + reason + ". The SOC edits are unchanged.";
    return -1;
  }
  // One value per line; NUL, space and CR are dropped wherever they stand,
  // empty lines are skipped, the last line may lack its line feed.
  std::vector<std::string> lines;
  std::string current;
  for (char c : data) {
    if (c == '\0' || c == ' ' || c == '\r') continue;
    if (c == '\n') {
      if (!current.empty()) lines.push_back(std::move(current));
      current.clear();
      continue;
    }
    current += c;
  }
  if (!current.empty()) lines.push_back(std::move(current));
  if (found) *found = static_cast<int>(lines.size());
  if (lines.size() != static_cast<size_t>(kSocPoints)) {
    if (why)
      *why = "The SOC table file " + path + " holds " + std::to_string(lines.size()) + (lines.size() == 1 ? " value" : " values") +
             "; it must hold exactly 101, one per line from 100 % down to 0 %. The SOC edits are unchanged.";
    return -1;
  }
  ctx.SocTableLines.with([&](auto& table) {
    for (int i = 0; i < kSocPoints; ++i) table[static_cast<size_t>(i)] = lines[static_cast<size_t>(i)];
  });
  return kSocPoints - 1;
}

bool ApplySocTableFile(Context& ctx, const std::string& path, std::string* why) {
  const int last = ReadSocTableFile(ctx, path, why);
  if (last != kSocPoints - 1) return false;
  const auto lines = ctx.SocTableLines.get();
  for (int k = 0; k < kSocPoints; ++k) ctx.Form_EEP_PARAMETER.EditSOC[k]->set_text(lines[static_cast<size_t>(last - k)]);
  return true;
}

std::string SocTableText(Context& ctx) {
  std::string out;
  for (int k = kSocPoints - 1; k >= 0; --k) out += ctx.Form_EEP_PARAMETER.EditSOC[k]->text() + "\r\n";
  return out;
}

}  // namespace bms
