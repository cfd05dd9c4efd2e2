// The live plots' data: the tap of the polling loop, the bounded queue, the
// 24-hour series with its min/max decimation, and the CSV export.
#include "core/monitor/plot_series.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "core/link/link_port.h"
#include "core/shell/app.h"
#include "core/shell/connection_dialog.h"
#include "platform/temp_folder.h"
#include "sim/faults.h"
#include "sim_fixture.h"

namespace bms {
namespace {

constexpr int64_t kHourMs = 3600 * 1000;

PlotSample Sample(int64_t t_ms, int32_t voltage) {
  PlotSample s;
  s.t_ms = t_ms;
  s.v.fill(kPlotAbsent);
  s.v[static_cast<size_t>(PlotChannel::PackVoltage)] = voltage;
  return s;
}

// A smooth pack voltage with one spike and one dip in it.
int32_t Wave(int64_t t_ms) { return 50000 + static_cast<int32_t>((t_ms / 1000) % 600); }

struct Extremes {
  int32_t lo, hi;
};
Extremes Of(const std::vector<PlotPoint>& line) {
  Extremes e{line.front().value, line.front().value};
  for (const PlotPoint& p : line) {
    e.lo = std::min(e.lo, p.value);
    e.hi = std::max(e.hi, p.value);
  }
  return e;
}

bool StrictlyInTimeOrder(const std::vector<PlotPoint>& line) {
  for (size_t i = 1; i < line.size(); ++i)
    if (line[i].t_ms <= line[i - 1].t_ms) return false;
  return true;
}

bool Holds(const std::vector<PlotPoint>& line, PlotPoint p) { return std::find(line.begin(), line.end(), p) != line.end(); }

// ---------------------------------------------------------------- decimation

TEST(PlotSeries, ADayOfSamplesDrawsWithinTheBucketBudgetAndKeepsItsPeaks) {
  struct Case {
    const char* name;
    size_t raw_capacity;  // small: the old part lives in buckets only
    int64_t spike_at, dip_at;
  };
  const Case cases[] = {
      {"whole samples", PlotSeries::kRawCapacity, 5 * kHourMs + 1234, 20 * kHourMs + 17},
      {"old peaks in buckets", 3600, 2 * kHourMs + 9999, 3 * kHourMs + 10000},
      {"peaks at the newest end", 3600, 24 * kHourMs - 2000, 24 * kHourMs - 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PlotSeries series(c.raw_capacity);
    for (int64_t t = 0; t < 24 * kHourMs; t += 1000) {
      int32_t v = Wave(t);
      if (t == c.spike_at - c.spike_at % 1000) v = 58000;
      if (t == c.dip_at - c.dip_at % 1000) v = 41000;
      series.add(Sample(t, v));
    }
    const std::vector<PlotPoint> line = series.line(PlotChannel::PackVoltage, 0, 24 * kHourMs, 600);
    EXPECT_LE(line.size(), 1200u);
    EXPECT_GT(line.size(), 600u) << "every span of the window gives a point";
    EXPECT_TRUE(StrictlyInTimeOrder(line));
    EXPECT_TRUE(Holds(line, {c.spike_at - c.spike_at % 1000, 58000}));
    EXPECT_TRUE(Holds(line, {c.dip_at - c.dip_at % 1000, 41000}));
    const Extremes e = Of(line);
    EXPECT_EQ(e.lo, 41000);
    EXPECT_EQ(e.hi, 58000);
  }
}

TEST(PlotSeries, AWindowSmallerThanTheBudgetGivesEverySample) {
  PlotSeries series;
  for (int64_t t = 0; t < 120'000; t += 1000) series.add(Sample(t, Wave(t) + static_cast<int32_t>(t % 7)));
  const std::vector<PlotPoint> line = series.line(PlotChannel::PackVoltage, 30'000, 89'999, 600);
  ASSERT_EQ(line.size(), 60u);
  for (size_t i = 0; i < line.size(); ++i) {
    const int64_t t = 30'000 + static_cast<int64_t>(i) * 1000;
    EXPECT_EQ(line[i], (PlotPoint{t, Wave(t) + static_cast<int32_t>(t % 7)}));
  }
}

// Buckets are [start, start + 10 s): a sample on an edge belongs to the
// later bucket, and a window that starts or ends on an edge takes exactly
// what lies inside it, also where the whole samples were already dropped.
TEST(PlotSeries, BucketEdgesBelongToTheLaterBucket) {
  PlotSeries series(/*raw_capacity=*/2);
  series.add(Sample(9'999, 5));
  series.add(Sample(10'000, 7));
  series.add(Sample(19'999, 6));
  series.add(Sample(20'000, 9));
  series.add(Sample(20'001, 1));
  series.add(Sample(30'500, 4));  // the whole samples hold 20 001 and 30 500 now
  ASSERT_EQ(series.raw_size(), 2u);
  struct Window {
    int64_t from, to;
    std::vector<PlotPoint> want;
  };
  const Window windows[] = {
      {0, 9'999, {{9'999, 5}}},
      {10'000, 19'999, {{10'000, 7}, {19'999, 6}}},
      {0, 10'000, {{9'999, 5}, {10'000, 7}}},
      {19'999, 20'000, {{19'999, 6}, {20'000, 9}}},
      // The bucket of 20 000 and 20 001 holds their extremes; the whole
      // samples go on after that bucket.
      {20'000, 40'000, {{20'000, 9}, {20'001, 1}, {30'500, 4}}},
      {20'001, 30'499, {{20'001, 1}}},
      {0, 40'000, {{9'999, 5}, {10'000, 7}, {19'999, 6}, {20'000, 9}, {20'001, 1}, {30'500, 4}}},
  };
  for (const Window& w : windows) {
    SCOPED_TRACE(std::to_string(w.from) + ".." + std::to_string(w.to));
    EXPECT_EQ(series.line(PlotChannel::PackVoltage, w.from, w.to, 100), w.want);
  }
}

// Where the buckets hand over to the whole samples no value is drawn twice
// and none is lost, whatever the window.
TEST(PlotSeries, BucketsAndWholeSamplesJoinWithoutGapOrRepeat) {
  PlotSeries series(/*raw_capacity=*/25);
  for (int64_t t = 0; t < 100'000; t += 700) series.add(Sample(t, static_cast<int32_t>((t * 7919) % 1000)));
  const int64_t front = series.raw().front().t_ms;
  ASSERT_GT(front % PlotSeries::kBucketMs, 0) << "the whole samples start inside a bucket";
  for (int64_t from : {int64_t{0}, front - 700, front, front + 1}) {
    SCOPED_TRACE(from);
    const std::vector<PlotPoint> line = series.line(PlotChannel::PackVoltage, from, 100'000, 10'000);
    EXPECT_TRUE(StrictlyInTimeOrder(line));
    // Every whole sample from the first bucket edge after the front is there.
    const int64_t edge = (front / PlotSeries::kBucketMs + 1) * PlotSeries::kBucketMs;
    for (const PlotSeries::Row& r : series.raw()) {
      if (r.t_ms < std::max(edge, from)) continue;
      EXPECT_TRUE(Holds(line, {r.t_ms, r.at(PlotChannel::PackVoltage)})) << r.t_ms;
    }
  }
}

TEST(PlotSeries, AbsentValuesAreLeftOutAndOldSamplesAreIgnored) {
  PlotSeries series;
  PlotSample a = Sample(1000, 1);
  a.v[static_cast<size_t>(PlotChannel::T3)] = 20;
  series.add(a);
  series.add(Sample(2000, 2));  // no T3
  series.add(Sample(1500, 3));  // older than the newest
  EXPECT_EQ(series.raw_size(), 2u);
  EXPECT_EQ(series.line(PlotChannel::T3, 0, 5000, 10), (std::vector<PlotPoint>{{1000, 20}}));
  EXPECT_EQ(series.line(PlotChannel::PackVoltage, 0, 5000, 10), (std::vector<PlotPoint>{{1000, 1}, {2000, 2}}));
  EXPECT_TRUE(series.line(PlotChannel::Soc, 0, 5000, 10).empty());
}

// ---------------------------------------------------------------- bounds

TEST(PlotSeries, KeepsTheLast24HoursAndNoMore) {
  PlotSeries series;
  for (int64_t t = 0; t <= 30 * kHourMs; t += 1000) series.add(Sample(t, Wave(t)));
  const int64_t newest = 30 * kHourMs;
  EXPECT_EQ(series.newest_ms(), newest);
  EXPECT_EQ(series.raw().front().t_ms, newest - PlotSeries::kSpanMs);
  EXPECT_EQ(series.oldest_ms(), newest - PlotSeries::kSpanMs);
  EXPECT_EQ(series.bucket_count(), static_cast<size_t>(PlotSeries::kSpanMs / PlotSeries::kBucketMs) + 1);
  const std::vector<PlotPoint> all = series.line(PlotChannel::PackVoltage, 0, newest, 600);
  EXPECT_EQ(all.front().t_ms, newest - PlotSeries::kSpanMs);
  EXPECT_EQ(all.back().t_ms, newest);
}

// Samples far faster than a polling cycle: the whole samples stop at their
// capacity, the buckets still cover the day, the memory stays bounded.
TEST(PlotSeries, MemoryStaysBoundedWhateverTheSampleRate) {
  PlotSeries series;
  const int64_t end = 48 * kHourMs;
  for (int64_t t = 0; t <= end; t += 100) series.add(Sample(t, Wave(t)));
  EXPECT_EQ(series.raw_size(), PlotSeries::kRawCapacity);
  EXPECT_LE(series.bucket_count(), static_cast<size_t>(PlotSeries::kSpanMs / PlotSeries::kBucketMs) + 1);
  const size_t bound = PlotSeries::kRawCapacity * sizeof(PlotSeries::Row) + 8641 * (8 + kPlotChannels * 12);
  EXPECT_LE(series.memory_bytes(), bound);
  EXPECT_LE(series.memory_bytes(), size_t{16} << 20);
  EXPECT_EQ(series.oldest_ms(), end - PlotSeries::kSpanMs);
  const std::vector<PlotPoint> day = series.line(PlotChannel::PackVoltage, end - PlotSeries::kSpanMs, end, 600);
  EXPECT_EQ(day.front().t_ms, end - PlotSeries::kSpanMs) << "the day is drawn from its start";
  EXPECT_LE(day.size(), 1200u);
}

// ---------------------------------------------------------------- queue

TEST(PlotSampleQueue, DropsAndCountsWhatDoesNotFit) {
  PlotSampleQueue q(4);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(q.push(Sample(i, i)), i < 4);
  EXPECT_EQ(q.dropped(), 2u);
  const std::vector<PlotSample> got = q.drain();
  ASSERT_EQ(got.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(got[static_cast<size_t>(i)].t_ms, i);
  EXPECT_TRUE(q.push(Sample(9, 9))) << "room again after a drain";
  EXPECT_EQ(q.drain().size(), 1u);
}

TEST(PlotSampleQueue, UnderAFloodEverySampleIsEitherDeliveredOrCounted) {
  PlotSampleQueue q(8);
  constexpr int kSamples = 20000;
  std::atomic<bool> done{false};
  std::thread producer([&] {
    for (int i = 0; i < kSamples; ++i) q.push(Sample(i, i));
    done = true;
  });
  std::vector<int64_t> seen;
  for (;;) {
    const bool last = done.load();
    for (const PlotSample& s : q.drain()) seen.push_back(s.t_ms);
    if (last) break;
    std::this_thread::yield();
  }
  producer.join();
  for (const PlotSample& s : q.drain()) seen.push_back(s.t_ms);
  EXPECT_EQ(seen.size() + q.dropped(), static_cast<size_t>(kSamples));
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
}

// ---------------------------------------------------------------- CSV

TEST(PlotCsv, HeaderThenOneRowPerSampleWithCrLfAndEmptyAbsentValues) {
  PlotSeries series;
  PlotSample a;
  a.t_ms = 5000;
  a.local = LocalTime{2026, 12, 9, 23, 59, 59, 750};
  a.v = {51234, -1520, 3901, 3902, 3903, 3904, 3905, 3906, 3907, 3908, 3909, 3910, 3911, 3912, 3913, kPlotAbsent, 3913, 3901, 25, -4, kPlotAbsent, 65};
  PlotSample b = a;
  b.t_ms = 6250;
  b.v[1] = 0;
  b.v[20] = 23;
  series.add(a);
  series.add(b);
  series.add(Sample(99'000, 1));  // outside the exported window
  const std::string want =
      "Time,Seconds,Pack voltage (mV),Pack current (mA),Cell 1 (mV),Cell 2 (mV),Cell 3 (mV),Cell 4 (mV),Cell 5 (mV),Cell 6 (mV),Cell 7 (mV),"
      "Cell 8 (mV),Cell 9 (mV),Cell 10 (mV),Cell 11 (mV),Cell 12 (mV),Cell 13 (mV),Cell 14 (mV),Highest cell (mV),Lowest cell (mV),T1 (C),T2 (C),"
      "T3 (C),SOC (%)\r\n"
      "2026-12-09 23:59:59.750,0.000,51234,-1520,3901,3902,3903,3904,3905,3906,3907,3908,3909,3910,3911,3912,3913,,3913,3901,25,-4,,65\r\n"
      "2026-12-10 00:00:01.000,1.250,51234,0,3901,3902,3903,3904,3905,3906,3907,3908,3909,3910,3911,3912,3913,,3913,3901,25,-4,23,65\r\n";
  EXPECT_EQ(PlotCsv(series, 0, 60'000), want);

  testing::TempFolder tmp;
  const std::string path = tmp.path() + "/plots.csv";
  std::string why;
  ASSERT_TRUE(WritePlotCsv(path, series, 0, 60'000, &why)) << why;
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), want);
  EXPECT_FALSE(WritePlotCsv(tmp.path() + "/no such folder/plots.csv", series, 0, 60'000, &why));
  EXPECT_FALSE(why.empty());
}

// ---------------------------------------------------------------- the tap

class PlotTap : public SimFixture {
 protected:
  void Start() {
    ctx.app.exe_name = "TQ58_LIT_bmsmon";
    ctx.app.data_folder = tmp.path() + "/";
    ctx.app.current_dir = tmp.path() + "/";
    CreateApplication(ctx);
    ctx.FormConfig.CobBoxInterfaceName.set_text(sim::kVirtualPortName);
    SpdBtnYESClick(ctx);
  }
  void TearDown() override { AttachPlotSampleQueue(ctx, nullptr); }
  testing::TempFolder tmp;
  PlotSampleQueue queue;
};

// One sample per completed cycle, at the instant the cycle ends, holding
// what the display shows at that instant.
TEST_F(PlotTap, OneSamplePerCompletedCycleWithTheDisplayedValues) {
  Start();
  AttachPlotSampleQueue(ctx, &queue);
  // The pack's values move on every 3 s of virtual time.
  for (int k = 1; k <= 6; ++k)
    clock.at(k * 3000, [this, k] {
      pack.update([k](sim::Scenario& s) {
        s.cells_mv[2] = static_cast<uint16_t>(3700 + 10 * k);
        s.pack_current_ma = -1000 * k;
        s.t3 = static_cast<int8_t>(k % 2 ? 0 : 30 + k);
        s.rsoc = static_cast<uint8_t>(60 + k);
      });
    });
  // The third cycle misses a cell page: no sample of it.
  pack.faults().add(sim::Fault::Make(sim::FaultMatch::Register(0x1001, 2), sim::FaultAction::Silence, sim::FaultTrigger::Nth(3)));
  std::vector<PlotSample> expected;
  int cycles = 0, incomplete = 0;
  ctx.MonitorCycleHook = [&](bool completed) {
    if (!completed) {
      ++incomplete;
      return;
    }
    TFormMain& m = ctx.FormMain;
    PlotSample s;
    s.t_ms = clock.now_ms();
    auto put = [&](PlotChannel c, const Control& edit) { s.v[static_cast<size_t>(c)] = edit.text().empty() ? kPlotAbsent : std::stoi(edit.text()); };
    put(PlotChannel::PackVoltage, m.EditPackVolt);
    put(PlotChannel::PackCurrent, m.EditPackCurrent);
    for (int cell = 1; cell <= 14; ++cell) s.v[static_cast<size_t>(CellChannel(cell))] = cell <= 13 ? std::stoi(m.EditVCellN[cell]->text()) : kPlotAbsent;
    put(PlotChannel::CellHigh, m.Edit_HVlot);
    put(PlotChannel::CellLow, m.Edit_LVolt);
    put(PlotChannel::T1, m.EditT1);
    put(PlotChannel::T2, m.EditT2);
    put(PlotChannel::T3, m.EditT3);
    put(PlotChannel::Soc, m.EditRSOC);
    expected.push_back(s);
    if (++cycles == 20) ctx.RunFlag = 0;
  };
  ctx.FormMain.SpdBtnRUN.click();
  ctx.MonitorCycleHook = nullptr;
  AttachPlotSampleQueue(ctx, nullptr);
  const std::vector<PlotSample> got = queue.drain();
  EXPECT_EQ(incomplete, 1);
  ASSERT_EQ(got.size(), expected.size());
  ASSERT_EQ(got.size(), 20u);
  bool t3_absent = false, t3_present = false;
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got[i].t_ms, expected[i].t_ms);
    EXPECT_EQ(got[i].v, expected[i].v);
    (got[i].at(PlotChannel::T3) == kPlotAbsent ? t3_absent : t3_present) = true;
  }
  EXPECT_TRUE(t3_absent && t3_present) << "both T3 states were sampled";
  EXPECT_NE(got.front().at(PlotChannel::Soc), got.back().at(PlotChannel::Soc)) << "the values moved while sampling";
  EXPECT_EQ(queue.dropped(), 0u);
}

TEST_F(PlotTap, NothingIsTakenWhileNoQueueIsAttached) {
  Start();
  AttachPlotSampleQueue(ctx, &queue);
  AttachPlotSampleQueue(ctx, nullptr);
  int cycles = 0;
  ctx.MonitorCycleHook = [&](bool completed) {
    if (completed && ++cycles == 3) ctx.RunFlag = 0;
  };
  ctx.FormMain.SpdBtnRUN.click();
  ctx.MonitorCycleHook = nullptr;
  EXPECT_EQ(cycles, 3);
  EXPECT_TRUE(queue.drain().empty());
}

}  // namespace
}  // namespace bms
