#include "core/parameters/eep2.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <mutex>

#include "core/commands/command_worker.h"
#include "core/link/link_port.h"
#include "core/link/modbus.h"

namespace bms {

namespace {

constexpr size_t kCellTypeChars = 16;
constexpr Color kGreenDark = 0x008000;  // caption after a successful transfer
constexpr const char* kWindowTitle = "EEP Parameter";

// Code points of a UTF-8 text; false on a malformed sequence.
bool CodePoints(std::string_view s, std::vector<uint32_t>* out) {
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    uint32_t cp = 0;
    size_t len = 0;
    if (b < 0x80) {
      cp = b;
      len = 1;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1F;
      len = 2;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0F;
      len = 3;
    } else if ((b & 0xF8) == 0xF0) {
      cp = b & 0x07;
      len = 4;
    } else {
      return false;
    }
    if (i + len > s.size()) return false;
    for (size_t k = 1; k < len; ++k) {
      const auto c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = cp << 6 | (c & 0x3F);
    }
    out->push_back(cp);
    i += len;
  }
  return true;
}

void AppendUtf8(std::string& s, uint32_t cp) {
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xC0 | (cp >> 6));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    s += static_cast<char>(0xE0 | (cp >> 12));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The one-byte characters of the cell type: printable ASCII and the
// printable half of Latin-1, each stored as its own byte value.
bool OneByteCharacter(uint32_t cp) { return (cp >= 0x20 && cp <= 0x7E) || (cp >= 0xA0 && cp <= 0xFF); }

std::string FieldName(const Eep2Field& f) {
  std::string n = "\"" + f.caption + "\"";
  if (!f.unit.empty()) n += " (" + f.unit + ")";
  return n + " in " + f.edit;
}

std::string Shown(std::string_view text) {
  std::string t(text.substr(0, 24));
  if (text.size() > 24) t += "...";
  return "\"" + t + "\"";
}

// A plain decimal conversion of the whole text: an optional "-", then digits.
bool ParseDecimal(std::string_view t, int64_t* v) {
  bool neg = false;
  if (!t.empty() && t.front() == '-') {
    neg = true;
    t.remove_prefix(1);
  }
  if (t.empty() || t.size() > 18) return false;
  int64_t n = 0;
  for (char c : t) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  *v = neg ? -n : n;
  return true;
}

int32_t Signed16(int32_t w) { return static_cast<int16_t>(static_cast<uint16_t>(w & 0xFFFF)); }
int32_t Signed32(int32_t hi, int32_t lo) { return static_cast<int32_t>(static_cast<uint32_t>(hi & 0xFFFF) << 16 | static_cast<uint32_t>(lo & 0xFFFF)); }

void Tell(Context& ctx, const std::string& text) {
  if (ctx.Operator) ctx.Operator->Ask(Prompt{kWindowTitle, text, PromptButtons::Ok});
}

Control& ReadButton(Context& ctx, Eep2Block b) { return b == Eep2Block::C ? ctx.Form_EEP_PARAMETER.BitBtn_Block_C_Read : ctx.Form_EEP_PARAMETER.BitBtn_Block_D_Read; }
Control& WriteButton(Context& ctx, Eep2Block b) { return b == Eep2Block::C ? ctx.Form_EEP_PARAMETER.BitBtn_Block_C_Write : ctx.Form_EEP_PARAMETER.BitBtn_Block_D_Write; }

const char* BlockName(Eep2Block b) { return b == Eep2Block::C ? "Block C" : "Block D"; }

// The frame of every transfer: the window's tabs and the button are locked,
// and so are the command buttons of the main window, so that neither the
// polling loop nor another command opens (or closes) the port meanwhile.
Eep2Result Locked(Context& ctx, Control& button, const std::function<Eep2Result()>& body) {
  TForm_EEP_PARAMETER& w = ctx.Form_EEP_PARAMETER;
  w.PageControl_EEP_Parameter.set_enabled(false);
  button.set_enabled(false);
  SetCommandButtons(ctx, false);
  const Eep2Result r = body();
  button.set_enabled(true);
  w.PageControl_EEP_Parameter.set_enabled(true);
  SetCommandButtons(ctx, true);
  return r;
}

Eep2Result OpenFailed(Context& ctx) {
  const std::string why = ctx.LinkError.get();
  SetStatusPanel(ctx, 2, "  Cannot open the port: " + why);
  return {Eep2Outcome::PortFailed, "The serial port could not be opened: " + why};
}

}  // namespace

uint16_t Eep2BlockStart(Eep2Block b) { return b == Eep2Block::C ? kEep2BlockCStart : kEep2BlockDStart; }

const std::vector<Eep2Field>& Eep2Fields(Eep2Block b) { return b == Eep2Block::C ? Eep2BlockCFields() : Eep2BlockDFields(); }

const std::vector<Control*>& Eep2Edits(Context& ctx, Eep2Block b) { return b == Eep2Block::C ? ctx.Form_EEP_PARAMETER.BlockCEdits : ctx.Form_EEP_PARAMETER.BlockDEdits; }

void Eep2Range(Eep2Encoding e, int64_t* lo, int64_t* hi) {
  constexpr int64_t kMin32 = std::numeric_limits<int32_t>::min(), kMax32 = std::numeric_limits<int32_t>::max();
  switch (e) {
    case Eep2Encoding::U16:
      *lo = 0, *hi = 65535;
      return;
    case Eep2Encoding::S16:
      *lo = -32768, *hi = 32767;
      return;
    case Eep2Encoding::S16N:
      *lo = -32767, *hi = 32768;
      return;
    case Eep2Encoding::I32:
      *lo = kMin32, *hi = kMax32;
      return;
    case Eep2Encoding::I32N:
      *lo = -kMax32, *hi = -kMin32;
      return;
    case Eep2Encoding::Text:
      *lo = 0, *hi = 0;
      return;
  }
}

std::string Eep2FieldText(const Eep2Field& f, const int32_t* w) {
  switch (f.encoding) {
    case Eep2Encoding::U16:
      return std::to_string(w[0] & 0xFFFF);
    case Eep2Encoding::S16:
      return std::to_string(Signed16(w[0]));
    case Eep2Encoding::S16N:
      return std::to_string(-Signed16(w[0]));
    case Eep2Encoding::I32:
      return std::to_string(Signed32(w[0], w[1]));
    case Eep2Encoding::I32N:
      return std::to_string(-static_cast<int64_t>(Signed32(w[0], w[1])));
    case Eep2Encoding::Text: {
      std::string text;
      for (size_t c = 0; c < kCellTypeChars; ++c) {
        const auto byte = static_cast<uint8_t>(c % 2 == 0 ? (w[c / 2] >> 8) & 0xFF : w[c / 2] & 0xFF);
        if (byte == 0) break;
        // A byte that is no printable character shows as U+FFFD, which a
        // later write refuses rather than storing something else.
        AppendUtf8(text, OneByteCharacter(byte) ? byte : 0xFFFD);
      }
      return text;
    }
  }
  return {};
}

bool Eep2FieldWords(const Eep2Field& f, std::string_view text, int32_t* w, std::string* why) {
  auto refuse = [&](const std::string& what) {
    if (why) *why = FieldName(f) + " " + what + "; nothing was sent.";
    return false;
  };
  if (text.empty()) return refuse("is empty");
  if (f.encoding == Eep2Encoding::Text) {
    std::vector<uint32_t> cps;
    if (!CodePoints(text, &cps)) return refuse("is not valid text");
    if (cps.size() > kCellTypeChars) return refuse("holds " + std::to_string(cps.size()) + " characters, at most 16 fit");
    for (size_t c = 0; c < cps.size(); ++c) {
      if (!OneByteCharacter(cps[c])) {
        std::string ch;
        AppendUtf8(ch, cps[c] > 0xFFFF ? 0xFFFD : cps[c]);
        return refuse("holds the character " + (cps[c] < 0x20 || cps[c] == 0x7F ? std::string("with code ") + std::to_string(cps[c]) : "\"" + ch + "\"") + " at position " +
                      std::to_string(c + 1) + ", which is not a one-byte character (letters, digits and signs of ASCII or Latin-1 only)");
      }
    }
    for (size_t r = 0; r < kCellTypeChars / 2; ++r) w[r] = 0;
    for (size_t c = 0; c < cps.size(); ++c) w[c / 2] |= static_cast<int32_t>(cps[c] << (c % 2 == 0 ? 8 : 0));
    return true;
  }
  int64_t v = 0;
  if (!ParseDecimal(text, &v)) return refuse(Shown(text) + " is not a whole decimal number");
  int64_t lo = 0, hi = 0;
  Eep2Range(f.encoding, &lo, &hi);
  if (v < lo || v > hi) return refuse(Shown(text) + " is outside " + std::to_string(lo) + ".." + std::to_string(hi));
  switch (f.encoding) {
    case Eep2Encoding::U16:
    case Eep2Encoding::S16:
      w[0] = static_cast<int32_t>(v & 0xFFFF);
      break;
    case Eep2Encoding::S16N:
      w[0] = static_cast<int32_t>(-v & 0xFFFF);
      break;
    case Eep2Encoding::I32:
    case Eep2Encoding::I32N: {
      const auto u = static_cast<uint32_t>(static_cast<int32_t>(f.encoding == Eep2Encoding::I32N ? -v : v));
      w[0] = static_cast<int32_t>(u >> 16);
      w[1] = static_cast<int32_t>(u & 0xFFFF);
      break;
    }
    case Eep2Encoding::Text:
      break;
  }
  return true;
}

bool Eep2BlockWords(Context& ctx, Eep2Block b, std::array<int32_t, kEep2BlockSize>& words, Eep2Result* result) {
  TForm_EEP_PARAMETER& form = ctx.Form_EEP_PARAMETER;
  for (const std::string& name : Eep2CheckedEdits(b == Eep2Block::D)) {
    if (form.get(name).empty()) {
      *result = {Eep2Outcome::RefusedQuietly, std::string(BlockName(b)) + ": " + name + " is empty; nothing was sent."};
      return false;
    }
  }
  words.fill(0);  // reserved registers go out as 0
  const auto& fields = Eep2Fields(b);
  const auto& edits = Eep2Edits(ctx, b);
  const uint16_t start = Eep2BlockStart(b);
  for (size_t i = 0; i < fields.size(); ++i) {
    std::string why;
    if (!Eep2FieldWords(fields[i], edits[i]->text(), &words[fields[i].reg - start], &why)) {
      *result = {Eep2Outcome::Refused, std::string(BlockName(b)) + ": " + why};
      return false;
    }
  }
  return true;
}

std::string Eep2PortInUse(Context& ctx, bool from_click) {
  if (ctx.MonitorActive.load() || ctx.FormMain.SpdBtnRUN.text() == "STOP")
    return "Monitoring is running and holds the serial port. Press STOP on the main window, then repeat the block transfer.";
  bool held = false;
  {
    // Another thread may be opening or closing the port right now.
    std::lock_guard<std::mutex> lock(ctx.link_mu);
    held = ctx.LinkPort && ctx.LinkPort->is_open();
  }
  if (ctx.RunFlag.load() || held || (from_click && ctx.workers.running() > 0)) return "Another operation is using the serial port. Repeat the block transfer when it has finished.";
  return "";
}

Eep2Result RunEep2Read(Context& ctx, Eep2Block b) {
  Control& button = ReadButton(ctx, b);
  const std::string busy = Eep2PortInUse(ctx, false);
  if (!busy.empty()) return {Eep2Outcome::Refused, busy};
  return Locked(ctx, button, [&]() -> Eep2Result {
    if (!OpenLinkPort(ctx)) return OpenFailed(ctx);
    ClearModbusReadTables(ctx);
    const uint16_t start = Eep2BlockStart(b);
    if (!ModbusReadRegisters(ctx, start, kEep2BlockSize)) {
      button.set_font_color(kRed);
      CloseLinkPort(ctx);
      return {Eep2Outcome::TransferFailed, std::string(BlockName(b)) + ": no valid Modbus reply from the pack (slave 0x60); the edits are unchanged."};
    }
    button.set_font_color(kGreenDark);
    const auto words = ctx.ModbusReadWords.get();
    const auto& fields = Eep2Fields(b);
    const auto& edits = Eep2Edits(ctx, b);
    for (size_t i = 0; i < fields.size(); ++i) edits[i]->set_text(Eep2FieldText(fields[i], &words[fields[i].reg - start]));
    CloseLinkPort(ctx);
    return {};
  });
}

Eep2Result RunEep2Write(Context& ctx, Eep2Block b) {
  Control& button = WriteButton(ctx, b);
  std::array<int32_t, kEep2BlockSize> words{};
  Eep2Result refused;
  if (!Eep2BlockWords(ctx, b, words, &refused)) return refused;
  const std::string busy = Eep2PortInUse(ctx, false);
  if (!busy.empty()) return {Eep2Outcome::Refused, busy};
  return Locked(ctx, button, [&]() -> Eep2Result {
    if (!OpenLinkPort(ctx)) return OpenFailed(ctx);
    ClearModbusWriteTable(ctx);
    ctx.ModbusWriteWords.with([&](auto& table) { std::copy(words.begin(), words.end(), table.begin()); });
    const bool ok = ModbusWriteRegisters(ctx, Eep2BlockStart(b), kEep2BlockSize);
    button.set_font_color(ok ? kGreenDark : kRed);
    CloseLinkPort(ctx);
    if (!ok) return {Eep2Outcome::TransferFailed, std::string(BlockName(b)) + ": the pack did not confirm the write (no valid echo); it may or may not have taken the values."};
    return {};
  });
}

// ---- handlers ----

namespace {

void StartTransfer(Context& ctx, Eep2Block b, bool write) {
  const std::string busy = Eep2PortInUse(ctx, true);
  if (!busy.empty()) {
    Tell(ctx, busy);
    return;
  }
  // Locked at once, so that a second click cannot start a second transfer
  // before the worker runs; unlocked whatever the worker's outcome.
  Control& button = write ? WriteButton(ctx, b) : ReadButton(ctx, b);
  Control& pages = ctx.Form_EEP_PARAMETER.PageControl_EEP_Parameter;
  pages.set_enabled(false);
  button.set_enabled(false);
  auto unlock = [&button, &pages] {
    button.set_enabled(true);
    pages.set_enabled(true);
  };
  StartCommandWorker(
      ctx,
      [&ctx, b, write, unlock] {
        const Eep2Result r = write ? RunEep2Write(ctx, b) : RunEep2Read(ctx, b);
        unlock();
        if (r.outcome == Eep2Outcome::Refused) Tell(ctx, r.message);
      },
      unlock);
}

}  // namespace

void BitBtn_Block_C_ReadClick(Context& ctx) { StartTransfer(ctx, Eep2Block::C, false); }
void BitBtn_Block_C_WriteClick(Context& ctx) { StartTransfer(ctx, Eep2Block::C, true); }
void BitBtn_Block_D_ReadClick(Context& ctx) { StartTransfer(ctx, Eep2Block::D, false); }
void BitBtn_Block_D_WriteClick(Context& ctx) { StartTransfer(ctx, Eep2Block::D, true); }

void BitBtn_Block_SAVE_FileClick(Context& ctx) {
  std::string why;
  if (!SaveBlockCFile(ctx, BlockCFilePath(ctx), &why)) Tell(ctx, why);
}

void BitBtn_Block_Read_FileClick(Context& ctx) { LoadBlockCFile(ctx, BlockCFilePath(ctx)); }

void BitBtn_Read_SOC_FileClick(Context& ctx) {
  if (!ctx.Operator) return;
  const std::string path = ctx.Operator->ChooseOpenFile("", "");
  if (path.empty()) return;
  ctx.Form_EEP_PARAMETER.Edit_SOC_File.set_text(path);
  std::string why;
  if (!ApplySocTableFile(ctx, ctx.Form_EEP_PARAMETER.Edit_SOC_File.text(), &why)) Tell(ctx, why);
}

void Button_EEP_ParameterClick(Context& ctx) { ctx.Form_EEP_PARAMETER.self.set_visible(true); }

void WireEep2Window(Context& ctx) {
  TForm_EEP_PARAMETER& w = ctx.Form_EEP_PARAMETER;
  w.BitBtn_Block_C_Read.on_click = [&ctx] { BitBtn_Block_C_ReadClick(ctx); };
  w.BitBtn_Block_C_Write.on_click = [&ctx] { BitBtn_Block_C_WriteClick(ctx); };
  w.BitBtn_Block_D_Read.on_click = [&ctx] { BitBtn_Block_D_ReadClick(ctx); };
  w.BitBtn_Block_D_Write.on_click = [&ctx] { BitBtn_Block_D_WriteClick(ctx); };
  w.BitBtn_Block_SAVE_File.on_click = [&ctx] { BitBtn_Block_SAVE_FileClick(ctx); };
  w.BitBtn_Block_Read_File.on_click = [&ctx] { BitBtn_Block_Read_FileClick(ctx); };
  w.BitBtn_Read_SOC_File.on_click = [&ctx] { BitBtn_Read_SOC_FileClick(ctx); };
  ctx.FormMain.Button_EEP_Parameter.on_click = [&ctx] { Button_EEP_ParameterClick(ctx); };
}

}  // namespace bms
