#include "core/history/eeprom_window.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "core/history/fast_reply.h"
#include "core/history/record_decode.h"
#include "core/link/frame.h"
#include "core/link/link_port.h"
#include "core/platform/files.h"

namespace bms {

namespace {

constexpr const char* kTotalPackages = "Total Package Number :   ";
constexpr const char* kTotalBytes = "Total Bytes :   ";
constexpr const char* kTimeOut = "Total Bytes :   Time out ";

size_t Index(HistoryBlock block) { return static_cast<size_t>(block); }

const char* BlockName(HistoryBlock block) {
  switch (block) {
    case HistoryBlock::Protect:
      return "protect";
    case HistoryBlock::Lead:
      return "LEAD";
    case HistoryBlock::Last:
      break;
  }
  return "LAST";
}

// One entry of the header register list: address and length field; a pause
// before it in milliseconds.
struct HeaderRequest {
  uint16_t address;
  uint16_t length;
  int pause_before_ms;
};

constexpr HeaderRequest kHeaderList[] = {
    {0x6101, 0, 0}, {0x6102, 0, 0}, {0x6103, 0, 0}, {0x6104, 0, 0},  {0x6200, 0, 0}, {0x6201, 0, 0}, {0x6202, 0, 0}, {0x6203, 0, 0}, {0x6204, 1, 0},
    {0x6204, 2, 0}, {0x6205, 0, 0}, {0x6206, 0, 0}, {0x6207, 1, 0},  {0x6207, 2, 0}, {0x6207, 3, 0}, {0x6207, 4, 0}, {0x6300, 0, 0}, {0x6301, 0, 0},
    {0x6302, 0, 0}, {0x6303, 0, 0}, {0x6304, 0, 0}, {0x6305, 0, 50}, {0x6306, 0, 0}, {0x6307, 0, 0}, {0x6308, 0, 0}, {0x6309, 0, 0}, {0x6400, 0, 0},
    {0x6401, 0, 0}, {0x6402, 0, 0}, {0x6403, 0, 0}, {0x6404, 0, 0},  {0x6405, 0, 0}, {0x6406, 0, 0}, {0x6407, 0, 0},
};

// The address of the reply just decoded, from ReplyRecords.
bool LastReplyWas(Context& ctx, uint16_t address) {
  const ReplyRecord h = ctx.ReplyRecords.get()[0];
  return h[1] == kFrameReplyHeader && (h[2] << 8 | h[3]) == address;
}

bool CountValid(Context& ctx, HistoryBlock block) {
  return ctx.History.with([&](HistoryState& s) { return s.count_valid[Index(block)]; });
}

uint16_t CountOf(Context& ctx, HistoryBlock block) {
  return ctx.History.with([&](HistoryState& s) { return s.count[Index(block)]; });
}

// While a fast read runs the port carries the fast time-outs.
class FastTimeouts {
 public:
  FastTimeouts(Context& ctx, bool fast) : ctx_(ctx), fast_(fast && LinkPortOpen(ctx)) {
    if (fast_) ctx_.LinkPort->set_timeouts(FastReadTimeouts());
  }
  ~FastTimeouts() {
    if (fast_ && LinkPortOpen(ctx_)) ctx_.LinkPort->set_timeouts(PortTimeouts{});
  }
  FastTimeouts(const FastTimeouts&) = delete;
  FastTimeouts& operator=(const FastTimeouts&) = delete;

 private:
  Context& ctx_;
  bool fast_;
};

std::string ProgressText(int done, int count, int64_t elapsed_ms) {
  char buf[96];
  if (done <= 0 || done >= count) {
    std::snprintf(buf, sizeof buf, "%d / %d records", done, count);
    return buf;
  }
  const int64_t left_s = (elapsed_ms * (count - done) / done + 999) / 1000;
  std::snprintf(buf, sizeof buf, "%d / %d records, %lld:%02lld left", done, count, static_cast<long long>(left_s / 60), static_cast<long long>(left_s % 60));
  return buf;
}

void StartWorker(Context& ctx, std::function<void()> work, const std::function<void()>& on_fail) {
  if (!ctx.workers.start(std::move(work)) && on_fail) on_fail();
}

// The export file of a block read: created anew in its UART_ folder. False
// (with *why) when it could not be created.
bool CreateExport(Context& ctx, HistoryBlock block, RowFile& file, std::string* why) {
  const std::string name = ExportFolderName(ctx.clock.local_now());
  const std::string folder = ctx.app.data_folder.empty() ? "./" + name + "/" : ctx.app.data_folder + name + "/";
  if (!MakeDirectories(folder, why)) return false;
  const std::string path = folder + ExportFileName(block, name);
  // An export of the same second is replaced; a name taken by something
  // else than a file (a folder) is not.
  std::remove(path.c_str());
  return file.Create(path, why);
}

}  // namespace

BlockRegisters RegistersOf(HistoryBlock block) {
  switch (block) {
    case HistoryBlock::Protect:
      return {0x6500, 0x6501};
    case HistoryBlock::Lead:
      return {0x6600, 0x6601};
    case HistoryBlock::Last:
      break;
  }
  return {0x6602, 0x6603};
}

std::string ExportFolderName(const LocalTime& t) { return "UART_" + FormatLocalTime(t, "yyyymmdd_hhnnss"); }

std::string ExportFileName(HistoryBlock block, const std::string& folder_name) {
  switch (block) {
    case HistoryBlock::Protect:
      return folder_name + "_Protectlog_1.csv";
    case HistoryBlock::Lead:
      return folder_name + "_NormalLEADlog_1.csv";
    case HistoryBlock::Last:
      break;
  }
  return folder_name + "_NormalLASTlog_1.csv";
}

HistoryBlock BlockOfPage(int page) {
  if (page == 2) return HistoryBlock::Lead;
  if (page == 3) return HistoryBlock::Last;
  return HistoryBlock::Protect;
}

bool FastHistoryRead(Context& ctx) { return ctx.FormEEPROM.CheckBoxEEPFastRead.checked(); }

// ---------------------------------------------------------------- header

void HeaderReadWork(Context& ctx) {
  TFormEEPROM& e = ctx.FormEEPROM;
  const bool fast = FastHistoryRead(ctx);
  e.BitBtnEEPBlockChoiceRead.set_enabled(false);
  SetCommandButtons(ctx, false);
  e.self.set_enabled(false);
  if (OpenLinkPort(ctx)) {
    FastTimeouts timeouts(ctx, fast);
    bool ok = false;
    for (int attempt = 0; attempt < 10 && !ok; ++attempt) {
      SendRequestWide(ctx, 0x6100, 0, 0, 0);
      ok = AwaitHistoryReply(ctx, fast) && LastReplyWas(ctx, 0x6100);
      if (!ok) ctx.clock.sleep_ms(50);
    }
    const uint16_t size = ctx.History.with([](HistoryState& s) { return s.header.HeaderSize; });
    e.MemoEEPHeader.set_items({});
    e.MemoEEPHeader.set_text("");
    e.MemoEEPHeader.add_item(ok ? kTotalBytes + std::to_string(size) : std::string(kTimeOut));
    if (size != 0) {
      ctx.RunFlag = 1;
      for (const HeaderRequest& r : kHeaderList) {
        if (!ctx.RunFlag.load()) break;
        if (r.pause_before_ms > 0) ctx.clock.sleep_ms(r.pause_before_ms);
        SendRequest(ctx, r.address, r.length, 0);
        AwaitHistoryReply(ctx, fast);
      }
      if (ctx.RunFlag.load()) WriteHeaderPage(ctx);
    }
  } else {
    SetStatusPanel(ctx, 2, "  EEPROM: " + ctx.LinkError.get());
  }
  CloseLinkPort(ctx);
  ctx.clock.sleep_ms(300);
  e.BitBtnEEPBlockChoiceRead.set_enabled(true);
  SetCommandButtons(ctx, true);
  e.self.set_enabled(true);
}

// ---------------------------------------------------------------- record blocks

void RecordBlockReadWork(Context& ctx, HistoryBlock block) {
  TFormEEPROM& e = ctx.FormEEPROM;
  const BlockRegisters regs = RegistersOf(block);
  Control& memo = RecordMemo(ctx, block);
  const bool fast = FastHistoryRead(ctx);
  e.BitBtnEEPBlockChoiceRead.set_enabled(false);
  e.self.set_enabled(false);
  e.LabelEEPExportFile.set_text("");
  if (OpenLinkPort(ctx)) {
    FastTimeouts timeouts(ctx, fast);
    ctx.RunFlag = 1;
    bool ok = false;
    for (int attempt = 0; attempt < 10 && !ok; ++attempt) {
      SendRequestWide(ctx, regs.count, 0, 0, 0);
      ok = AwaitHistoryReply(ctx, fast) && CountValid(ctx, block);
    }
    const uint16_t count = ok ? CountOf(ctx, block) : 0;
    memo.set_items({});
    memo.set_text("");
    memo.add_item(ok ? kTotalPackages + std::to_string(count) : std::string(kTimeOut));
    if (count != 0) {
      ctx.History.with([&](HistoryState& s) { s.block_records[Index(block)].clear(); });
      RowFile file;
      std::string why;
      bool exporting = CreateExport(ctx, block, file, &why) && file.WriteRow(RecordCsvHeaderCp950(block), &why);
      if (exporting) e.LabelEEPExportFile.set_text(file.path());
      e.ProgressBarEEPBlockRead.set_range(0, count);
      e.ProgressBarEEPBlockRead.set_progress(0);
      e.ProgressBarEEPBlockRead.set_visible(true);
      e.LabelEEPProgress.set_text(ProgressText(0, count, 0));
      e.LabelEEPProgress.set_visible(true);
      e.BitBtnEEPCancel.set_enabled(true);
      e.BitBtnEEPCancel.set_visible(true);
      const int64_t start = ctx.clock.now_ms();
      int done = 0;
      for (uint32_t n = 1; n <= count && ctx.RunFlag.load(); ++n) {
        ClearHistoryRecord(ctx, block);
        for (uint16_t k = 1; k <= 4; ++k) {
          SendRequestWide(ctx, regs.record, k, n, 0);
          AwaitHistoryReply(ctx, fast);
        }
        const HistoryRecord record = ctx.History.with([&](HistoryState& s) {
          s.block_records[Index(block)].push_back(s.record[Index(block)].bytes);
          return s.record[Index(block)];
        });
        if (exporting && !file.WriteRow(RecordCsvRow(block, record), &why)) exporting = false;
        memo.add_item(RecordPageLine(block, static_cast<int>(n), record));
        done = static_cast<int>(n);
        e.ProgressBarEEPBlockRead.set_progress(done);
        e.LabelEEPProgress.set_text(ProgressText(done, count, ctx.clock.now_ms() - start));
      }
      file.Close();
      e.BitBtnEEPCancel.set_visible(false);
      if (done < count) e.LabelEEPProgress.set_text("Stopped: " + std::to_string(done) + " of " + std::to_string(count) + " records read");
      if (!why.empty()) {
        // The memo keeps every line; the operator learns that the export did not.
        SetStatusPanel(ctx, 2, std::string("  EEPROM ") + BlockName(block) + " export not written: " + why);
        e.LabelEEPExportFile.set_text("");
      }
    }
  } else {
    SetStatusPanel(ctx, 2, "  EEPROM: " + ctx.LinkError.get());
  }
  CloseLinkPort(ctx);
  ctx.clock.sleep_ms(300);
  e.BitBtnEEPBlockChoiceRead.set_enabled(true);
  e.self.set_enabled(true);
  SetCommandButtons(ctx, true);
}

// ---------------------------------------------------------------- preview and range

void PreViewWork(Context& ctx) {
  TFormEEPROM& e = ctx.FormEEPROM;
  const int page = e.PageControlEEP.item_index();
  const HistoryBlock block = BlockOfPage(page);
  const bool fast = FastHistoryRead(ctx);
  e.BitBtnEEPPreView.set_enabled(false);
  if (OpenLinkPort(ctx)) {
    FastTimeouts timeouts(ctx, fast);
    SetCommandButtons(ctx, false);
    e.ComboBoxEEPStartAddrRead.set_items({});
    e.ComboBoxEEPEndAddrRead.set_items({});
    e.ComboBoxEEPStartAddrRead.set_item_index(-1);
    e.ComboBoxEEPEndAddrRead.set_item_index(-1);
    ctx.RunFlag = 1;
    uint16_t count = 0;
    if (page == 2 || page == 3) {
      ctx.History.with([&](HistoryState& s) {
        s.count[Index(block)] = 0;
        s.count_valid[Index(block)] = false;
      });
      for (int attempt = 0; attempt < 3; ++attempt) {
        SendRequestWide(ctx, RegistersOf(block).count, 0, 0, 0);
        ctx.clock.sleep_ms(100);
        if (AwaitHistoryReply(ctx, fast) && CountValid(ctx, block)) break;
        ctx.clock.sleep_ms(100);
        if (!ctx.RunFlag.load()) break;
      }
      count = CountValid(ctx, block) ? CountOf(ctx, block) : 0;
      RecordMemo(ctx, block).add_item(kTotalPackages + std::to_string(count));
      std::vector<std::string> items;
      items.reserve(count);
      for (int i = 1; i <= count; ++i) items.push_back(std::to_string(i));
      e.ComboBoxEEPStartAddrRead.set_items(items);
      e.ComboBoxEEPEndAddrRead.set_items(std::move(items));
    }
    CloseLinkPort(ctx);
    if (count != 0) {
      e.BitBtnEEPRange.set_enabled(true);
      e.ComboBoxEEPStartAddrRead.set_item_index(0);
      e.ComboBoxEEPEndAddrRead.set_item_index(count - 1);
    } else {
      e.BitBtnEEPRange.set_enabled(false);
    }
  } else {
    SetStatusPanel(ctx, 2, "  EEPROM: " + ctx.LinkError.get());
  }
  ctx.clock.sleep_ms(100);
  e.BitBtnEEPPreView.set_enabled(true);
  ctx.clock.sleep_ms(100);
  SetCommandButtons(ctx, true);
  ctx.clock.sleep_ms(500);
}

void RangeReadWork(Context& ctx) {
  TFormEEPROM& e = ctx.FormEEPROM;
  const int page = e.PageControlEEP.item_index();
  if (page != 2 && page != 3) return;
  const HistoryBlock block = BlockOfPage(page);
  const bool fast = FastHistoryRead(ctx);
  if (!OpenLinkPort(ctx)) {
    SetStatusPanel(ctx, 2, "  EEPROM: " + ctx.LinkError.get());
    e.BitBtnEEPBlockChoiceRead.set_enabled(true);
    return;
  }
  FastTimeouts timeouts(ctx, fast);
  e.self.set_enabled(false);
  const int first = e.ComboBoxEEPStartAddrRead.item_index();
  const int last = e.ComboBoxEEPEndAddrRead.item_index();
  if (first >= 0 && last >= 0 && last >= first) {
    Control& memo = RecordMemo(ctx, block);
    for (int i = first; i <= last; ++i) {
      const std::string item = e.ComboBoxEEPStartAddrRead.item(static_cast<size_t>(i));
      const uint32_t n = static_cast<uint32_t>(std::strtoul(item.c_str(), nullptr, 10));
      ClearHistoryRecord(ctx, block);
      for (uint16_t k = 1; k <= 4; ++k) {
        SendRequestWide(ctx, RegistersOf(block).record, k, n, 0);
        AwaitHistoryReply(ctx, fast);
      }
      AppendRecordLine(ctx, block, static_cast<int>(n));
    }
    memo.add_item("\n\r");
  }
  CloseLinkPort(ctx);
  SetCommandButtons(ctx, true);
}

// ---------------------------------------------------------------- handlers

void BitBtnSafeInfoReadClick(Context& ctx) {
  ctx.FormMain.self.set_enabled(false);
  ctx.FormEEPROM.self.set_visible(true);
  EEPROMFormShow(ctx);
}

void EEPROMFormShow(Context& ctx) { ClearHistoryValues(ctx); }

void EEPROMFormClose(Context& ctx) {
  ctx.FormMain.self.set_enabled(true);
  ctx.FormMain.self.set_visible(true);
}

void BitBtnEEPBlockChoiceReadClick(Context& ctx) {
  SetCommandButtons(ctx, false);
  ClearHistoryValues(ctx);
  const int page = ctx.FormEEPROM.PageControlEEP.item_index();
  auto restore = [&ctx] {
    ctx.FormEEPROM.BitBtnEEPBlockChoiceRead.set_enabled(true);
    SetCommandButtons(ctx, true);
  };
  if (page <= 0) {
    StartWorker(
        ctx, [&ctx] { HeaderReadWork(ctx); }, restore);
    return;
  }
  const HistoryBlock block = BlockOfPage(page);
  StartWorker(
      ctx, [&ctx, block] { RecordBlockReadWork(ctx, block); }, restore);
}

void PageControlEEPChange(Context& ctx) {
  const int page = ctx.FormEEPROM.PageControlEEP.item_index();
  ctx.FormEEPROM.GroupBoxEEPRangeRead.set_enabled(page == 2 || page == 3);
}

void BitBtnEEPPreViewClick(Context& ctx) {
  StartWorker(
      ctx, [&ctx] { PreViewWork(ctx); }, [&ctx] { ctx.FormEEPROM.BitBtnEEPPreView.set_enabled(true); });
}

void BitBtnEEPRangeClick(Context& ctx) {
  const int page = ctx.FormEEPROM.PageControlEEP.item_index();
  if (page != 2 && page != 3) return;
  ctx.FormEEPROM.BitBtnEEPBlockChoiceRead.set_enabled(false);
  ClearHistoryValues(ctx);
  StartWorker(
      ctx, [&ctx] { RangeReadWork(ctx); }, [&ctx] { ctx.FormEEPROM.BitBtnEEPBlockChoiceRead.set_enabled(true); });
}

void BitBtnCleanClick(Context& ctx, TFormEEPROM&) {
  const int page = ctx.FormEEPROM.PageControlEEP.item_index();
  if (page != 2 && page != 3) return;
  Control& memo = RecordMemo(ctx, BlockOfPage(page));
  memo.set_items({});
  memo.set_text("");
}

void BitBtnEEPCancelClick(Context& ctx) { ctx.RunFlag = 0; }

void WireHistoryWindow(Context& ctx) {
  TFormEEPROM& e = ctx.FormEEPROM;
  ctx.FormMain.BitBtnSafeInfoRead.on_click = [&ctx] { BitBtnSafeInfoReadClick(ctx); };
  ctx.FormMain.BitBtnEVTEEPRead.on_click = [&ctx] { BitBtnSafeInfoReadClick(ctx); };
  e.on_close = [&ctx] { EEPROMFormClose(ctx); };
  e.BitBtnEEPBlockChoiceRead.on_click = [&ctx] { BitBtnEEPBlockChoiceReadClick(ctx); };
  e.PageControlEEP.on_click = [&ctx] { PageControlEEPChange(ctx); };
  e.BitBtnEEPPreView.on_click = [&ctx] { BitBtnEEPPreViewClick(ctx); };
  e.BitBtnEEPRange.on_click = [&ctx] { BitBtnEEPRangeClick(ctx); };
  e.BitBtnClean.on_click = [&ctx] { BitBtnCleanClick(ctx, ctx.FormEEPROM); };
  e.BitBtnEEPCancel.on_click = [&ctx] { BitBtnEEPCancelClick(ctx); };
  e.BitBtnEEPBlockProtectRead.on_click = [] {};
  e.BitBtnEEPClean.on_click = [] {};
}

}  // namespace bms
