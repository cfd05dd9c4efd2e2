// bench_plots: the GUI polling the in-process virtual pack on the real clock,
// offscreen, with the live plots shown. Reports the CPU the process uses
// while polling, the delay from the last byte of a status block on the wire
// to the widget showing its pack voltage, and (for information) the delay to
// the plot drawing that sample. Run twice: once with the 15-minute window,
// once with the 24-hour window holding a whole day of samples beforehand.
//
//   bench_plots [SECONDS] [window|day]     (default 15 s, both runs)
#include <sys/resource.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/qt/frontend.h"
#include "app/qt/main_window.h"
#include "app/qt/plot_panel.h"
#include "core/context.h"
#include "core/platform/clock.h"
#include "core/shell/app.h"
#include "sim/port_factory.h"
#include "sim/scenario.h"
#include "sim/sim_port.h"
#include "sim/virtual_pack.h"
#include "sim/wire_log.h"

namespace {

constexpr double kCpuTargetPercent = 3.0;
constexpr double kLatencyTargetMs = 50.0;

int64_t SteadyUs() { return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void RunFor(int ms, const std::function<bool()>& cond = {}) {
  QElapsedTimer t;
  t.start();
  QTimer tick;
  tick.start(20);
  while (t.elapsed() < ms && !(cond && cond())) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * double(v.size() - 1) + 0.5));
  return v[i];
}

struct Result {
  double cpu_pct = 0, p50 = 0, p95 = 0, worst = 0, plot_p50 = 0, plot_worst = 0, wall = 0;
  size_t values = 0, plotted = 0;
  int blocks = 0, redraws = 0;
};

Result Run(int seconds, bool day) {
  QTemporaryDir dir;
  bms::RealClock clock;
  bms::sim::WireLog wire;
  bms::sim::VirtualPack pack(clock, bms::sim::DefaultScenario());
  bms::Context ctx(clock, bms::sim::MakePortFactory(&pack, clock, &wire));
  bms::StartOptions opts;
  opts.argv0 = dir.filePath(QStringLiteral("TQ58_LIT_bmsmon")).toStdString();
  opts.data_dir = dir.path().toStdString();
  opts.simulate = true;
  bms::InitAppIdentity(ctx, opts);

  bms::qt::Frontend fe(ctx);
  bms::qt::PlotPanel& panel = fe.plot_panel();
  auto* volt = fe.main_window().findChild<QLineEdit*>(QStringLiteral("EditPackVolt"));
  std::vector<std::pair<long, int64_t>> shown, plotted;  // voltage, steady µs
  std::atomic<bool> measuring{false};
  fe.binder().set_observer([&](const bms::UiEvent& ev) {
    if (!measuring || ev.control != &ctx.FormMain.EditPackVolt || ev.prop != bms::Prop::Text) return;
    const long v = volt->text().toLong();
    if (v > 0) shown.emplace_back(v, SteadyUs());
  });
  QLineSeries* line = nullptr;
  for (QAbstractSeries* s : panel.findChild<QChartView*>(QStringLiteral("ChartPack"))->chart()->series())
    if (s->name() == QStringLiteral("Pack voltage")) line = qobject_cast<QLineSeries*>(s);
  if (line)
    QObject::connect(line, &QXYSeries::pointsReplaced, [&] {
      if (measuring && line->count() > 0) plotted.emplace_back(long(line->at(line->count() - 1).y()), SteadyUs());
    });

  fe.attach();
  bms::CreateApplication(ctx);
  bms::ShowMainWindow(ctx);
  if (day) {
    // A day of samples, one a second, before the polling starts.
    std::vector<bms::PlotSample> samples;
    const int64_t now = clock.now_ms();
    const bms::LocalTime local = clock.local_now();
    for (int64_t t = -24 * 3600 * 1000LL; t < 0; t += 1000) {
      bms::PlotSample s;
      s.t_ms = now + t;
      s.local = bms::AddMilliseconds(local, t);
      s.v.fill(3700 + static_cast<int32_t>((t / 1000) % 300));
      samples.push_back(s);
    }
    panel.add_samples(samples);
    panel.findChild<QComboBox*>(QStringLiteral("PlotWindow"))->setCurrentText(QStringLiteral("24 h"));
  }
  panel.toggle_action()->trigger();
  // The connection dialog offers the virtual pack once its port scan ended.
  RunFor(10000, [&] { return ctx.FormConfig.SpdBtnYES.enabled(); });
  ctx.FormConfig.CobBoxInterfaceName.set_text(bms::sim::kVirtualPortName);
  ctx.FormConfig.SpdBtnYES.click();
  ctx.FormMain.SpdBtnRUN.click();
  RunFor(10000, [&] { return ctx.FormMain.SpdBtnRUN.text() == "STOP"; });

  std::atomic<bool> ramp{true};
  std::thread ramp_thread([&] {
    uint32_t k = 0;
    while (ramp) {
      pack.update([&](bms::sim::Scenario& s) { s.pack_voltage_mv = 50000 + (k++ % 5000); });
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
  });

  RunFor(2500);
  wire.clear();
  const int redraws0 = panel.redraws();
  measuring = true;
  const double cpu0 = CpuSeconds();
  const int64_t wall0 = SteadyUs();
  RunFor(seconds * 1000);
  const double cpu = CpuSeconds() - cpu0;
  Result r;
  r.wall = double(SteadyUs() - wall0) / 1e6;
  r.redraws = panel.redraws() - redraws0;
  measuring = false;
  ramp = false;
  ramp_thread.join();

  std::map<long, int64_t> block_end;
  for (const bms::sim::WireEntry& e : wire.entries()) {
    if (e.dir != bms::sim::Direction::PackToHost || e.bytes.size() != 96 || e.bytes[0] != 0x4A) continue;
    ++r.blocks;
    const long v = (long(e.bytes[27]) << 24) | (long(e.bytes[28]) << 16) | (long(e.bytes[29]) << 8) | long(e.bytes[30]);
    block_end.emplace(v, e.end_us());
  }
  auto delays = [&](const std::vector<std::pair<long, int64_t>>& seen) {
    std::vector<double> out;
    std::map<long, bool> first;
    for (const auto& [v, at] : seen) {
      auto it = block_end.find(v);
      if (it == block_end.end() || first[v]) continue;
      first[v] = true;
      out.push_back(double(at - it->second) / 1000.0);
    }
    return out;
  };
  const std::vector<double> d = delays(shown), pd = delays(plotted);
  r.cpu_pct = 100.0 * cpu / r.wall;
  r.p50 = Percentile(d, 0.5);
  r.p95 = Percentile(d, 0.95);
  r.worst = Percentile(d, 1.0);
  r.values = d.size();
  r.plot_p50 = Percentile(pd, 0.5);
  r.plot_worst = Percentile(pd, 1.0);
  r.plotted = pd.size();
  bms::ExitApplication(ctx);
  fe.detach();
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 15;
  bms::qt::GuiApplication app(argc, argv);
  bool ok = true;
  auto verdict = [](bool pass) { return pass ? "ok" : "TARGET MISSED"; };
  const std::string only = argc > 2 ? argv[2] : "";
  for (bool day : {false, true}) {
    if ((only == "window" && day) || (only == "day" && !day)) continue;
    const Result r = Run(seconds, day);
    std::printf("bench_plots: %.1f s of polling with the plots shown, %s, %d status blocks, %d redraws\n", r.wall, day ? "24 h window holding a day of samples" : "15 min window",
                r.blocks, r.redraws);
    std::printf("  CPU while polling      %6.2f %% of one core   (target <= %.0f %%)  %s\n", r.cpu_pct, kCpuTargetPercent, verdict(r.cpu_pct <= kCpuTargetPercent));
    std::printf("  block -> widget delay  median %.2f ms, p95 %.2f ms, worst %.2f ms over %zu values   (target <= %.0f ms)  %s\n", r.p50, r.p95, r.worst, r.values,
                kLatencyTargetMs, verdict(r.values > 0 && r.worst <= kLatencyTargetMs));
    std::printf("  block -> plot delay    median %.1f ms, worst %.1f ms over %zu values   (batched at 4 Hz)\n", r.plot_p50, r.plot_worst, r.plotted);
    ok = ok && r.cpu_pct <= kCpuTargetPercent && r.values > 0 && r.worst <= kLatencyTargetMs;
  }
  return ok ? 0 : 1;
}
