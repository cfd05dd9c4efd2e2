#include "core/parameters/fw_data.h"

#include "core/commands/command_worker.h"
#include "core/link/frame.h"
#include "core/link/link_borrow.h"
#include "core/link/link_port.h"
#include "core/platform/files.h"
#include "core/platform/ini.h"
#include "core/platform/safe_text.h"

namespace bms {

namespace {

// A value no MTD.ini line can hold: tells a missing key from any value.
constexpr const char* kMissing = "\x01<missing>\x01";
constexpr int kParameterTab = 0;

TPagesDlgFWData& Dlg(Context& ctx) { return ctx.PagesDlgFWData; }

void Status(Context& ctx, const std::string& text) { Dlg(ctx).LabelFWDataStatus.set_text(text); }

std::string RangeText(int64_t lo, int64_t hi) { return "a whole number from " + std::to_string(lo) + " to " + std::to_string(hi); }

// The refusal text for one edit.
std::string Refusal(const std::string& what, const std::string& edit, const std::string& text, int64_t lo, int64_t hi) {
  if (text.empty()) return "Write refused: " + what + " (" + edit + ") is empty. Nothing was sent.";
  return "Write refused: " + what + " (" + edit + ") holds \"" + TerminalSafe(text, true) + "\", not " + RangeText(lo, hi) + ". Nothing was sent.";
}

const uint8_t kNoParams[3] = {0, 0, 0};

bool ActiveTabIsParameter(Context& ctx) { return Dlg(ctx).PageControlFW.item_index() == kParameterTab; }

void EnableWriteThenRead(Context& ctx) {
  Dlg(ctx).BitBtnFWDataWrite.set_enabled(true);
  Dlg(ctx).BitBtnFWDataRead.set_enabled(true);
}

}  // namespace

Control& ProtectionEdit(Context& ctx, const ProtectionField& f) { return Dlg(ctx).get(f.edit); }
Control& SocvEdit(Context& ctx, int n) { return *Dlg(ctx).EditSOCVN[n]; }

std::string MtdPath(const Context& ctx) {
  const std::string chosen = ctx.Parameters.with([](const ParameterState& s) { return s.mtd_file; });
  return chosen.empty() ? ctx.app.current_dir + kMtdFile : chosen;
}

std::string NumberRuns(const std::vector<int>& numbers) {
  std::string out;
  for (size_t i = 0; i < numbers.size();) {
    size_t j = i;
    while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1) ++j;
    if (!out.empty()) out += ", ";
    out += std::to_string(numbers[i]);
    if (j > i) out += "-" + std::to_string(numbers[j]);
    i = j + 1;
  }
  return out;
}

bool ReplyEchoes(Context& ctx, uint16_t address, uint16_t length) {
  const ReplyRecord h = ctx.ReplyRecords.get()[0];
  return (h[2] << 8 | h[3]) == address && (h[4] << 8 | h[5]) == length;
}

TransferOutcome LastOutcome(Context& ctx, TransferKind kind) {
  return ctx.Parameters.with([&](ParameterState& s) { return s.outcome[static_cast<size_t>(kind)]; });
}

void FinishTransfer(Context& ctx, TransferKind kind, TransferOutcome outcome, Control* status) {
  if (status) status->set_text(outcome.message);
  ctx.Parameters.with([&](ParameterState& s) {
    TransferOutcome& o = s.outcome[static_cast<size_t>(kind)];
    outcome.finished = o.finished + 1;
    o = outcome;
  });
}

bool ReadMtdKeys(Context& ctx, const std::string& section, const std::vector<std::string>& keys, std::vector<std::string>* values, std::string* why) {
  const std::string path = MtdPath(ctx);
  std::string content;
  if (!FileExists(path)) {
    if (why)
      *why = path == ctx.app.current_dir + kMtdFile ? "MTD.ini was not found in " + ctx.app.current_dir + ": nothing was loaded." : path + " was not found: nothing was loaded.";
    return false;
  }
  std::string err;
  if (!ReadInputFile(path, &content, &err)) {
    if (why) *why = "MTD.ini cannot be read (" + err + "): nothing was loaded.";
    return false;
  }
  std::vector<std::string> out;
  std::vector<std::string> missing;
  for (const std::string& k : keys) {
    std::string v = GetPrivateProfileString(section, k, kMissing, path);
    if (v == kMissing) missing.push_back(k);
    out.push_back(std::move(v));
  }
  if (!missing.empty()) {
    std::string list;
    for (size_t i = 0; i < missing.size() && i < 8; ++i) list += (i ? ", " : "") + missing[i];
    if (missing.size() > 8) list += " and " + std::to_string(missing.size() - 8) + " more";
    if (why) *why = "MTD.ini lacks " + list + " in section [" + section + "]: nothing was loaded.";
    return false;
  }
  *values = std::move(out);
  return true;
}

// ---------------------------------------------------------------------------
// Parameter tab.

void DecodeProtectionPage(Context& ctx, uint16_t page, const uint8_t* data) {
  for (const ProtectionField& f : kProtectionFields)
    if (f.page == page) ProtectionEdit(ctx, f).set_text(DecodeProtectionField(f, data));
}

bool BuildProtectionImage(Context& ctx, std::array<uint8_t, kProtectionImageSize>& image, std::string* why) {
  std::array<uint8_t, kProtectionImageSize> out{};
  for (const ProtectionField& f : kProtectionFields) {
    const std::string text = ProtectionEdit(ctx, f).text();
    const auto v = ParseEditNumber(text, EncodingMin(f.encoding), EncodingMax(f.encoding));
    if (!v) {
      if (why) *why = Refusal(f.label, f.edit, text, EncodingMin(f.encoding), EncodingMax(f.encoding));
      return false;
    }
    EncodeProtectionField(f, *v, &out[static_cast<size_t>(f.page - 1) * 8]);
  }
  image = out;
  return true;
}

void ProtectionReadWorker(Context& ctx) {
  TPagesDlgFWData& d = Dlg(ctx);
  TransferOutcome o;
  {
    LinkBorrow borrow(ctx);
    d.BitBtnFWDataRead.set_enabled(false);
    ctx.clock.sleep_ms(300);
    DrainReply(ctx);
    for (uint16_t p = 1; p <= kProtectionPageCount; ++p) {
      SendRequestNoWait(ctx, kRegProtectionRead, p, kNoParams, 0);
      ctx.clock.sleep_ms(40);
      if (!(AwaitReplyDecodeNoWait(ctx) && ReplyEchoes(ctx, kRegProtectionRead, p))) o.failed.push_back(p);
      if (p < kProtectionPageCount) {
        ctx.clock.sleep_ms(10);
        if (!ctx.RunFlag.load()) {
          for (int q = p + 1; q <= static_cast<int>(kProtectionPageCount); ++q) o.failed.push_back(q);
          break;
        }
      }
    }
  }
  ctx.clock.sleep_ms(10);
  d.BitBtnFWDataRead.set_enabled(true);
  ctx.FormMain.CheckBoxVCellNoAdjust.set_checked(true);
  o.ok = o.failed.empty();
  o.message = o.ok ? "Parameters read: all 6 pages." : "Parameters read: no reply for page " + NumberRuns(o.failed) + "; the values of that page were left as they were.";
  FinishTransfer(ctx, TransferKind::FwRead, o, &d.LabelFWDataStatus);
  EnableWriteThenRead(ctx);
}

void ProtectionWriteWorker(Context& ctx) {
  TPagesDlgFWData& d = Dlg(ctx);
  TransferOutcome o;
  {
    LinkBorrow borrow(ctx);
    ctx.clock.sleep_ms(300);
    DrainReply(ctx);
    d.BitBtnFWDataWrite.set_enabled(false);
    std::array<uint8_t, kProtectionImageSize> image{};
    if (!BuildProtectionImage(ctx, image, &o.message)) {
      o.refused = true;
    } else if (!ctx.RunFlag.load()) {
      o.skipped = true;
      o.message = "Monitoring stopped before the write: nothing was sent.";
    } else {
      ctx.Parameters.with([&](ParameterState& s) { s.ProtectionImage = image; });
      for (uint16_t p = 1; p <= kProtectionPageCount; ++p) {
        SendRequestNoWait(ctx, kRegProtectionWrite, p, kNoParams, 8);
        ctx.clock.sleep_ms(8);
        SendPayloadNoWait(ctx, &image[(p - 1u) * 8u]);
        ctx.clock.sleep_ms(40);
        if (!AwaitEchoNoWait(ctx, kRegProtectionWrite, p)) o.failed.push_back(p);
        ctx.clock.sleep_ms(10);
      }
      ctx.clock.sleep_ms(50);
      o.ok = o.failed.empty();
      o.message = o.ok ? "Parameters written: all 6 pages echoed." : "Parameters written: 6 pages sent; no echo for page " + NumberRuns(o.failed) + ".";
    }
  }
  FinishTransfer(ctx, TransferKind::FwWrite, o, &d.LabelFWDataStatus);
  EnableWriteThenRead(ctx);
}

void ProtectionLoadWorker(Context& ctx) {
  std::vector<std::string> keys;
  for (const ProtectionField& f : kProtectionFields) keys.emplace_back(f.key);
  std::vector<std::string> values;
  TransferOutcome o;
  if (ReadMtdKeys(ctx, kMtdProtectionSection, keys, &values, &o.message)) {
    for (size_t i = 0; i < kProtectionFields.size(); ++i) ProtectionEdit(ctx, kProtectionFields[i]).set_text(values[i]);
    o.ok = true;
    o.message = "Parameters loaded from MTD.ini.";
  }
  FinishTransfer(ctx, TransferKind::FwLoad, o, &Dlg(ctx).LabelFWDataStatus);
}

void ProtectionCleanWorker(Context& ctx) {
  for (const ProtectionField& f : kProtectionFields) ProtectionEdit(ctx, f).set_text("0");
}

// ---------------------------------------------------------------------------
// SOCV tab.

bool BuildSocvValues(Context& ctx, std::array<uint16_t, kSocvPoints>& values, std::string* why) {
  std::array<uint16_t, kSocvPoints> out{};
  for (int n = 1; n <= kSocvPoints; ++n) {
    const std::string text = SocvEdit(ctx, n).text();
    const auto v = ParseEditNumber(text, 0, 65535);
    if (!v) {
      if (why) *why = Refusal("SOC-OCV point " + std::to_string(n), SocvEditName(n), text, 0, 65535);
      return false;
    }
    out[static_cast<size_t>(n - 1)] = static_cast<uint16_t>(*v);
  }
  values = out;
  return true;
}

void SocvReadWorker(Context& ctx) {
  TPagesDlgFWData& d = Dlg(ctx);
  std::array<bool, kSocvPages + 1> received{};
  {
    LinkBorrow borrow(ctx);
    d.BitBtnFWDataRead.set_enabled(false);
    ctx.clock.sleep_ms(300);
    DrainReply(ctx);
    for (uint16_t p = 1; p <= kSocvPages; ++p) {
      SendRequestNoWait(ctx, kRegSocvRead, p, kNoParams, 0);
      ctx.clock.sleep_ms(40);
      received[p] = AwaitReplyDecodeNoWait(ctx) && ReplyEchoes(ctx, kRegSocvRead, p);
      if (!ctx.RunFlag.load()) break;
      ctx.clock.sleep_ms(10);
    }
    ctx.clock.sleep_ms(10);
  }
  // The pages received are shown; the points of the others keep their edits.
  const auto table = ctx.Live.with([](LiveData& live) { return live.SocOcvTable; });
  TransferOutcome o;
  for (int n = 1; n <= kSocvPoints; ++n) {
    const int page = (n - 1) / 4 + 1;
    if (received[static_cast<size_t>(page)])
      SocvEdit(ctx, n).set_text(std::to_string(table[static_cast<size_t>(page)][static_cast<size_t>((n - 1) % 4)]));
    else
      o.failed.push_back(n);
  }
  o.ok = o.failed.empty();
  o.message = o.ok ? "SOC-OCV table read: all 101 points." : "SOC-OCV table read incomplete: no reply for point " + NumberRuns(o.failed) + "; those edits were left as they were.";
  FinishTransfer(ctx, TransferKind::SocvRead, o, &d.LabelFWDataStatus);
  d.BitBtnFWDataRead.set_enabled(true);
  d.BitBtnFWDataWrite.set_enabled(true);
}

void SocvWriteWorker(Context& ctx) {
  TPagesDlgFWData& d = Dlg(ctx);
  TransferOutcome o;
  {
    LinkBorrow borrow(ctx);
    ctx.clock.sleep_ms(300);
    DrainReply(ctx);
    d.BitBtnFWDataWrite.set_enabled(false);
    std::array<uint16_t, kSocvPoints> values{};
    if (!BuildSocvValues(ctx, values, &o.message)) {
      o.refused = true;
    } else if (!ctx.RunFlag.load()) {
      o.skipped = true;
      o.message = "Monitoring stopped before the write: nothing was sent.";
    } else {
      ctx.Live.with([&](LiveData& live) {
        live.SocOcvTable = {};
        for (int n = 1; n <= kSocvPoints; ++n) live.SocOcvTable[static_cast<size_t>((n - 1) / 4 + 1)][static_cast<size_t>((n - 1) % 4)] = values[static_cast<size_t>(n - 1)];
      });
      for (uint16_t p = 1; p <= kSocvPages; ++p) {
        const bool last = p == kSocvPages;
        uint8_t data[8] = {};
        const int words = last ? 1 : 4;
        for (int k = 0; k < words; ++k) {
          const uint16_t v = values[static_cast<size_t>((p - 1) * 4 + k)];
          data[2 * k] = static_cast<uint8_t>(v >> 8);
          data[2 * k + 1] = static_cast<uint8_t>(v & 0xFF);
        }
        SendRequestNoWait(ctx, kRegSocvWrite, p, kNoParams, last ? 2 : 8);
        ctx.clock.sleep_ms(8);
        SendPayloadNoWait(ctx, data);
        ctx.clock.sleep_ms(40);
        if (!AwaitEchoNoWait(ctx, kRegSocvWrite, p)) o.failed.push_back(p);
        ctx.clock.sleep_ms(10);
      }
      ctx.clock.sleep_ms(50);
      o.ok = o.failed.empty();
      o.message = o.ok ? "SOC-OCV table written: all 26 pages echoed." : "SOC-OCV table written: 26 pages sent; no echo for page " + NumberRuns(o.failed) + ".";
    }
  }
  FinishTransfer(ctx, TransferKind::SocvWrite, o, &d.LabelFWDataStatus);
  EnableWriteThenRead(ctx);
}

void SocvLoadWorker(Context& ctx) {
  ctx.Live.with([](LiveData& live) { live.SocOcvTable = {}; });
  std::vector<std::string> keys;
  for (int n = 1; n <= kSocvPoints; ++n) keys.push_back(SocvKey(n));
  std::vector<std::string> values;
  TransferOutcome o;
  if (ReadMtdKeys(ctx, kMtdSocvSection, keys, &values, &o.message)) {
    for (int n = 1; n <= kSocvPoints; ++n) SocvEdit(ctx, n).set_text(values[static_cast<size_t>(n - 1)]);
    o.ok = true;
    o.message = "SOC-OCV table loaded from MTD.ini.";
  }
  FinishTransfer(ctx, TransferKind::SocvLoad, o, &Dlg(ctx).LabelFWDataStatus);
}

void SocvCleanWorker(Context& ctx) {
  for (int n = 1; n <= kSocvPoints; ++n) SocvEdit(ctx, n).set_text("0");
}

// ---------------------------------------------------------------------------
// Click handlers.

namespace {

// Starts a borrowing worker: the click has set LinkBusy; a worker that
// cannot start gives everything back.
void StartBorrow(Context& ctx, TransferKind kind, void (*worker)(Context&)) {
  ctx.LinkBusy = 1;
  StartCommandWorker(
      ctx, [&ctx, worker] { worker(ctx); },
      [&ctx, kind] {
        ctx.LinkBusy = 0;
        TransferOutcome o;
        o.message = "Cannot start the transfer thread: nothing was sent.";
        FinishTransfer(ctx, kind, o, &Dlg(ctx).LabelFWDataStatus);
        EnableWriteThenRead(ctx);
      });
}

// A click while monitoring is stopped changes nothing but says so.
bool RefuseWithoutPolling(Context& ctx, TransferKind kind) {
  if (PollingRuns(ctx)) return false;
  TransferOutcome o;
  o.skipped = true;
  o.message = kPollingNotRunning;
  FinishTransfer(ctx, kind, o, &Dlg(ctx).LabelFWDataStatus);
  return true;
}

}  // namespace

void BitBtnFWDataReadClick(Context& ctx) {
  const bool param = ActiveTabIsParameter(ctx);
  const TransferKind kind = param ? TransferKind::FwRead : TransferKind::SocvRead;
  if (RefuseWithoutPolling(ctx, kind)) return;
  ctx.FormMain.CheckBoxVCellNoAdjust.set_checked(false);
  Dlg(ctx).BitBtnFWDataWrite.set_enabled(false);
  Dlg(ctx).BitBtnFWDataRead.set_enabled(false);
  Status(ctx, param ? "Reading the parameters..." : "Reading the SOC-OCV table...");
  StartBorrow(ctx, kind, param ? ProtectionReadWorker : SocvReadWorker);
}

void BitBtnFWDataWriteClick(Context& ctx) {
  const bool param = ActiveTabIsParameter(ctx);
  const TransferKind kind = param ? TransferKind::FwWrite : TransferKind::SocvWrite;
  if (RefuseWithoutPolling(ctx, kind)) return;
  Dlg(ctx).BitBtnFWDataWrite.set_enabled(false);
  Dlg(ctx).BitBtnFWDataRead.set_enabled(false);
  Status(ctx, param ? "Writing the parameters..." : "Writing the SOC-OCV table...");
  StartBorrow(ctx, kind, param ? ProtectionWriteWorker : SocvWriteWorker);
}

void BitBtnFWDataLoadClick(Context& ctx) {
  const bool param = ActiveTabIsParameter(ctx);
  if (RefuseWithoutPolling(ctx, param ? TransferKind::FwLoad : TransferKind::SocvLoad)) return;
  StartCommandWorker(ctx, [&ctx, param] { param ? ProtectionLoadWorker(ctx) : SocvLoadWorker(ctx); });
}

void BitBtnCleanClick(Context& ctx, TPagesDlgFWData&) {
  const bool param = ActiveTabIsParameter(ctx);
  if (!PollingRuns(ctx)) {
    Status(ctx, kPollingNotRunning);
    return;
  }
  StartCommandWorker(ctx, [&ctx, param] { param ? ProtectionCleanWorker(ctx) : SocvCleanWorker(ctx); });
}

void MainBitBtnFWDataReadClick(Context& ctx) {
  if (!PollingRuns(ctx)) return;
  ctx.FormMain.self.set_enabled(false);
  Dlg(ctx).self.set_visible(true);
}

void PagesDlgFWDataFormClose(Context& ctx) { ctx.FormMain.self.set_enabled(true); }

void WireFwDataHandlers(Context& ctx) {
  TPagesDlgFWData& d = Dlg(ctx);
  d.BitBtnFWDataRead.on_click = [&ctx] { BitBtnFWDataReadClick(ctx); };
  d.BitBtnFWDataWrite.on_click = [&ctx] { BitBtnFWDataWriteClick(ctx); };
  d.BitBtnFWDataLoad.on_click = [&ctx] { BitBtnFWDataLoadClick(ctx); };
  d.BitBtnClean.on_click = [&ctx] { BitBtnCleanClick(ctx, ctx.PagesDlgFWData); };
  d.on_close = [&ctx] { PagesDlgFWDataFormClose(ctx); };
  ctx.FormMain.BitBtnFWDataRead.on_click = [&ctx] { MainBitBtnFWDataReadClick(ctx); };
  // The delay mirrors: every change of a source edit is copied to its mirror.
  for (const ProtectionField& f : kProtectionFields) {
    if (!f.mirror_of) continue;
    Control& source = d.get(f.mirror_of);
    Control& mirror = d.get(f.edit);
    source.on_change = [&source, &mirror] { mirror.set_text(source.text()); };
  }
}

}  // namespace bms
