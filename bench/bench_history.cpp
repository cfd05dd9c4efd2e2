// A 500-record history block read over a pseudo-terminal at 19200 baud with
// the real serial layer and the real clock: the normal read (each reply read
// ends 50 ms after its last byte) against the fast download (a read ends as
// soon as a whole valid reply is in), and the bytes on the line as the bound.
//
//   BM_HistoryBlock500   reads the LAST block of 500 records once normally and
//                        once fast; both CSV exports must be identical.
//
// Counters: normal_s and fast_s (the whole block read), speedup, wire_s (the
// request and reply bytes of the 2001 exchanges at 19200 baud, 10 bits a byte)
// and fast_to_wire = fast_s / wire_s (goal: at most 1.2), identical (1 when
// the two exports are byte for byte the same).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "core/context.h"
#include "core/history/diagnosis.h"
#include "core/history/eeprom_window.h"
#include "sim/history_model.h"
#include "sim/port_factory.h"
#include "sim/pty_server.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Read {
  double seconds = 0;
  std::string csv;
  size_t lines = 0;
};

Read ReadLast(bms::Context& ctx, bool fast) {
  ctx.FormEEPROM.CheckBoxEEPFastRead.set_checked(fast);
  const auto t0 = std::chrono::steady_clock::now();
  bms::RecordBlockReadWork(ctx, bms::HistoryBlock::Last);
  Read r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() - 0.3;  // the 300 ms after the port is closed
  r.csv = ReadFile(ctx.FormEEPROM.LabelEEPExportFile.text());
  r.lines = ctx.FormEEPROM.MemoEEPNormalLAST.items().size();
  return r;
}

void BM_HistoryBlock500(benchmark::State& state) {
  bms::sim::Scenario s = bms::sim::DefaultScenario();
  std::string err;
  if (!bms::sim::ApplyHistoryModelText("lead=10, last=500, seed=9", s, err)) {
    state.SkipWithError(err.c_str());
    return;
  }
  s.latency_us = 2000;
  bms::sim::PtyServer server(s, 19200);
  std::string why;
  if (!server.start(&why)) {
    state.SkipWithError(why.c_str());
    return;
  }
  char tmpl[] = "/tmp/bms_bench_history_XXXXXX";
  const char* dir = mkdtemp(tmpl);
  bms::RealClock clock;
  bms::Context ctx(clock, bms::sim::MakePortFactory(nullptr, clock, nullptr), /*inline_workers=*/true);
  ctx.PortName.set(server.slave_path());
  ctx.FormConfig.ComboBoxBaudRate.set_item_index(1);
  ctx.app.data_folder = std::string(dir ? dir : "/tmp") + "/";
  bms::WireHistoryAndDiagnosis(ctx);
  Read normal, fast;
  for (auto _ : state) {
    normal = ReadLast(ctx, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // a new export folder
    fast = ReadLast(ctx, true);
  }
  const double byte_s = 10.0 / 19200.0;
  const double wire_s = (1 + 500 * 4) * (13 + 26) * byte_s;
  state.counters["normal_s"] = normal.seconds;
  state.counters["fast_s"] = fast.seconds;
  state.counters["speedup"] = normal.seconds / fast.seconds;
  state.counters["wire_s"] = wire_s;
  state.counters["fast_to_wire"] = fast.seconds / wire_s;
  state.counters["identical"] = !normal.csv.empty() && normal.csv == fast.csv && normal.lines == 501 && fast.lines == 501 ? 1 : 0;
  server.stop();
  std::error_code ec;
  if (dir) std::filesystem::remove_all(dir, ec);
}

BENCHMARK(BM_HistoryBlock500)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
