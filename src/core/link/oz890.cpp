#include "core/link/oz890.h"

#include <cstdio>

#include "core/commands/command_worker.h"
#include "core/platform/files.h"
#include "core/platform/ini.h"

namespace bms {

namespace {

constexpr uint8_t kLastKeyedRegister = 0x7E;
constexpr int kWaitAfterRequestMs = 30;
constexpr int kWaitAfterRegisterMs = 1;

std::string Hex2(uint8_t v) {
  char b[8];
  std::snprintf(b, sizeof b, "0x%02X", v);
  return b;
}

std::string HexDec(uint8_t v) { return Hex2(v) + " (" + std::to_string(v) + ")"; }

std::string Pad(std::string s, size_t width) {
  if (s.size() < width) s.append(width - s.size(), ' ');
  return s;
}

void Memo(Context& ctx, const std::string& line) { ctx.FormMain.MemoOZEEPRead.add_item(line); }

}  // namespace

std::string Oz890Key(uint8_t reg) {
  char b[24];
  std::snprintf(b, sizeof b, "EEP_%02XH_DATA", reg);
  return b;
}

std::string Oz890ReferencePath(const Context& ctx) {
  const std::string chosen = ctx.Oz890.with([](const Oz890State& s) { return s.reference_file; });
  return chosen.empty() ? ctx.app.current_dir + kOz890File : chosen;
}

bool LoadOz890Reference(Context& ctx) {
  const std::string path = Oz890ReferencePath(ctx);
  std::string why;
  if (!FileExists(path)) {
    ctx.Oz890.with([&](Oz890State& s) {
      s.reference_loaded = false;
      s.reference_error = "the reference file " + path + " does not exist";
    });
    return false;
  }
  std::string content;
  if (!ReadInputFile(path, &content, &why)) {
    ctx.Oz890.with([&](Oz890State& s) {
      s.reference_loaded = false;
      s.reference_error = why;
    });
    return false;
  }
  std::array<uint8_t, kOz890Registers> ref = ctx.Oz890.with([](Oz890State& s) { return s.Oz890Reference; });
  for (unsigned r = 0; r <= kLastKeyedRegister; ++r) {
    const int v = GetPrivateProfileInt(kOz890Section, Oz890Key(static_cast<uint8_t>(r)), -1, path);
    ref[r] = static_cast<uint8_t>(v & 0xFF);
  }
  ctx.Oz890.with([&](Oz890State& s) {
    s.Oz890Reference = ref;
    s.reference_loaded = true;
    s.reference_error.clear();
  });
  return true;
}

std::vector<std::string> Oz890MismatchLines(const std::vector<Oz890Mismatch>& list) {
  std::vector<std::string> lines;
  if (list.empty()) return lines;
  lines.push_back(Pad("Register", 10) + Pad("Expected", 12) + "Read");
  for (const Oz890Mismatch& m : list) {
    std::string read;
    if (m.reply == GatewayReply::Valid)
      read = HexDec(m.read);
    else if (m.reply == GatewayReply::NoReply)
      read = "no reply";
    else
      read = "bad reply";
    lines.push_back(Pad(Hex2(m.reg), 10) + Pad(HexDec(m.expected), 12) + read);
  }
  return lines;
}

bool CompareOz890Eeprom(Context& ctx, SerialPort& port) {
  Memo(ctx, kOz890CompareTitle);
  const std::array<uint8_t, kOz890Registers> ref = ctx.Oz890.with([](Oz890State& s) { return s.Oz890Reference; });
  std::array<uint8_t, kOz890Registers> image{};
  std::array<GatewayReply, kOz890Registers> replies{};
  replies.fill(GatewayReply::NoReply);
  std::vector<Oz890Mismatch> mismatches;
  int count = 0;
  bool complete = true;
  for (unsigned r = 0; r < kOz890Registers; ++r) {
    const auto reg = static_cast<uint8_t>(r);
    // Closing the application ends the check at once: the rest counts as unread.
    if (ctx.clock.interrupted()) {
      for (unsigned k = r; k < kOz890Registers; ++k) mismatches.push_back({static_cast<uint8_t>(k), ref[k], GatewayReply::NoReply, 0});
      count += static_cast<int>(kOz890Registers - r);
      complete = false;
      break;
    }
    SendGatewayRequest(port, kGatewayKindRead, kOz890Address, reg);
    ctx.clock.sleep_ms(kWaitAfterRequestMs);
    uint8_t value = 0;
    GatewayReply check = GatewayReply::NoReply;
    const bool valid = ReadGatewayReply(port, kOz890Address, reg, &value, &check);
    replies[r] = check;
    if (valid) image[r] = value;
    if (!valid) complete = false;
    if (!valid || value != ref[r]) {
      ++count;
      mismatches.push_back({reg, ref[r], check, value});
    }
    ctx.clock.sleep_ms(kWaitAfterRegisterMs);
  }
  Memo(ctx, "");
  Memo(ctx, count == 0 ? std::string(kOz890Passed) : "Total Test Result : " + std::to_string(count) + " FAILED.");
  for (const std::string& line : Oz890MismatchLines(mismatches)) Memo(ctx, line);
  ctx.Oz890.with([&](Oz890State& s) {
    s.ran = true;
    s.complete = complete;
    s.passed = count == 0;
    s.mismatch_count = count;
    s.mismatches = mismatches;
    s.image = image;
    s.replies = replies;
  });
  return count == 0;
}

bool RunOz890Check(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  m.MemoOZEEPRead.set_items({});
  m.SpdBtnOZEEPSaveRef.set_enabled(false);
  ctx.Oz890.with([](Oz890State& s) {
    s.ran = false;
    s.complete = false;
    s.passed = false;
    s.mismatch_count = 0;
    s.mismatches.clear();
    s.open_error.clear();
  });
  std::unique_ptr<SerialPort> port;
  std::string why;
  if (!OpenGatewayPort(ctx, ctx.PortName.get(), port, &why)) {
    // The port is busy (monitoring holds it), missing or not allowed: say why.
    Memo(ctx, " Gateway port error: " + why);
    ctx.Oz890.with([&](Oz890State& s) { s.open_error = why; });
    return false;
  }
  if (!LoadOz890Reference(ctx)) {
    Memo(ctx, kOz890LoadError);
    ctx.RunFlag = 0;
  }
  const bool passed = CompareOz890Eeprom(ctx, *port);
  if (!passed) ctx.RunFlag = 0;
  port->close();
  if (ctx.Oz890.with([](Oz890State& s) { return s.complete; })) m.SpdBtnOZEEPSaveRef.set_enabled(true);
  return passed;
}

std::string Oz890ReferenceText(const std::array<uint8_t, kOz890Registers>& image) {
  std::string t = "[" + std::string(kOz890Section) + "]\r\n";
  for (unsigned r = 0; r <= kLastKeyedRegister; ++r) t += Oz890Key(static_cast<uint8_t>(r)) + "=" + std::to_string(image[r]) + "\r\n";
  return t;
}

bool SaveOz890Reference(Context& ctx, const std::string& path, std::string* why) {
  const auto [complete, image] = ctx.Oz890.with([](Oz890State& s) { return std::make_pair(s.complete, s.image); });
  if (!complete) {
    if (why) *why = "no complete OZ890 image has been read: run the check first";
    return false;
  }
  if (FileExists(path)) {
    Prompt p;
    p.title = "Save as reference";
    p.text = "The reference file " + path + " exists. Replace it with the OZ890 EEPROM just read?";
    p.buttons = PromptButtons::YesNo;
    const PromptAnswer a = ctx.Operator ? ctx.Operator->Ask(p) : PromptAnswer::No;
    if (a != PromptAnswer::Yes) {
      if (why) *why = "the reference file " + path + " was kept as it was";
      return false;
    }
  }
  std::string err;
  if (!WriteFileAtomic(path, Oz890ReferenceText(image), &err)) {
    if (why) *why = err.empty() ? "the reference file " + path + " could not be written" : err;
    return false;
  }
  return true;
}

void SpdBtnOZEEPReadClick(Context& ctx) {
  Control& b = ctx.FormMain.SpdBtnOZEEPRead;
  // One check at a time: a second press would clear the memo of the first.
  if (!b.enabled()) return;
  b.set_enabled(false);
  StartCommandWorker(
      ctx,
      [&ctx] {
        RunOz890Check(ctx);
        ctx.FormMain.SpdBtnOZEEPRead.set_enabled(true);
      },
      [&ctx] { ctx.FormMain.SpdBtnOZEEPRead.set_enabled(true); });
}

void SpdBtnOZEEPSaveRefClick(Context& ctx) {
  const std::string path = Oz890ReferencePath(ctx);
  std::string why;
  if (SaveOz890Reference(ctx, path, &why))
    Memo(ctx, " Reference saved: " + path);
  else
    Memo(ctx, " Reference not saved: " + why);
}

void WireOz890Handlers(Context& ctx) {
  ctx.FormMain.SpdBtnOZEEPRead.on_click = [&ctx] { SpdBtnOZEEPReadClick(ctx); };
  ctx.FormMain.SpdBtnOZEEPSaveRef.on_click = [&ctx] { SpdBtnOZEEPSaveRefClick(ctx); };
}

}  // namespace bms
