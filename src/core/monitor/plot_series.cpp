#include "core/monitor/plot_series.h"

#include <algorithm>

#include "core/context.h"
#include "core/monitor/live_data.h"
#include "core/platform/files.h"

namespace bms {

PlotSample SampleFromLive(const LiveData& live, int64_t t_ms, const LocalTime& local) {
  PlotSample s;
  s.t_ms = t_ms;
  s.local = local;
  auto put = [&](PlotChannel c, int32_t v) { s.v[static_cast<size_t>(c)] = v; };
  put(PlotChannel::PackVoltage, static_cast<int32_t>(live.PackVoltage));
  put(PlotChannel::PackCurrent, live.PackCurrent);
  // The cells in series, as the statistics of the display count them.
  const int series = std::clamp(static_cast<int>(live.CellSeries), 1, 14);
  for (int cell = 1; cell <= 14; ++cell) put(CellChannel(cell), cell <= series ? live.CellVoltage[static_cast<size_t>(cell)] : kPlotAbsent);
  const CellSpread spread = SpreadOfCells(live.CellVoltage, live.CellSeries);
  put(PlotChannel::CellHigh, spread.high);
  put(PlotChannel::CellLow, spread.low);
  put(PlotChannel::T1, live.T1);
  put(PlotChannel::T2, live.T2);
  put(PlotChannel::T3, live.T3 == 0 ? kPlotAbsent : live.T3);  // the display leaves T3 empty then
  put(PlotChannel::Soc, live.Rsoc);
  return s;
}

// ---------------------------------------------------------------- queue

bool PlotSampleQueue::push(const PlotSample& s) {
  std::lock_guard<std::mutex> lock(mu_);
  if (queue_.size() >= capacity_) {
    dropped_.fetch_add(1);
    return false;
  }
  queue_.push_back(s);
  return true;
}

std::vector<PlotSample> PlotSampleQueue::drain() {
  std::vector<PlotSample> out;
  std::lock_guard<std::mutex> lock(mu_);
  out.swap(queue_);
  return out;
}

// ---------------------------------------------------------------- series

int64_t PlotSeries::BucketStart(int64_t t) {
  int64_t q = t / kBucketMs;
  if (t % kBucketMs < 0) --q;
  return q * kBucketMs;
}

void PlotSeries::clear() {
  raw_.clear();
  buckets_.clear();
  raw_trimmed_ = false;
}

void PlotSeries::add(const PlotSample& s) {
  if (!raw_.empty() && s.t_ms < raw_.back().t_ms) return;
  if (raw_.empty() && buckets_.empty()) {
    first_t_ms_ = s.t_ms;
    first_local_ = s.local;
  }
  raw_.push_back(Row{s.t_ms, s.v});
  const int64_t start = BucketStart(s.t_ms);
  if (buckets_.empty() || buckets_.back().start != start) buckets_.push_back(Bucket{start, {}});
  Bucket& b = buckets_.back();
  const auto at = static_cast<uint16_t>(s.t_ms - start);
  for (size_t c = 0; c < s.v.size(); ++c) {
    const int32_t v = s.v[c];
    if (v == kPlotAbsent) continue;
    MinMax& m = b.m[c];
    if (m.lo == kPlotAbsent) {
      m = MinMax{v, v, at, at};
      continue;
    }
    if (v < m.lo) {
      m.lo = v;
      m.lo_at = at;
    }
    if (v > m.hi) {
      m.hi = v;
      m.hi_at = at;
    }
  }
  trim();
}

void PlotSeries::trim() {
  const int64_t keep_from = raw_.back().t_ms - kSpanMs;
  while (raw_.size() > raw_capacity_ || (!raw_.empty() && raw_.front().t_ms < keep_from)) {
    raw_.pop_front();
    raw_trimmed_ = true;
  }
  while (!buckets_.empty() && buckets_.front().start + kBucketMs <= keep_from) buckets_.pop_front();
}

int64_t PlotSeries::oldest_ms() const {
  if (raw_.empty()) return 0;
  if (!raw_trimmed_ || buckets_.empty()) return raw_.front().t_ms;
  return std::min(raw_.front().t_ms, buckets_.front().start);
}

size_t PlotSeries::memory_bytes() const { return raw_.size() * sizeof(Row) + buckets_.size() * sizeof(Bucket); }

std::vector<PlotPoint> PlotSeries::line(PlotChannel channel, int64_t from_ms, int64_t to_ms, int max_buckets) const {
  std::vector<PlotPoint> src;
  if (raw_.empty() || to_ms < from_ms) return src;
  const auto c = static_cast<size_t>(channel);
  auto in_window = [&](int64_t t) { return t >= from_ms && t <= to_ms; };
  if (max_buckets < 1) max_buckets = 1;
  // Before `split` the line is drawn from the buckets (only they hold every
  // sample there), from it on from the whole samples. A window whose spans
  // each cover a bucket or more is drawn from the buckets alone: the same
  // extremes from a tenth of the values or less.
  int64_t split = std::numeric_limits<int64_t>::min();
  if ((to_ms - from_ms) / max_buckets >= kBucketMs) {
    split = std::numeric_limits<int64_t>::max();
  } else if (raw_trimmed_) {
    const int64_t front = raw_.front().t_ms;
    split = BucketStart(front) == front ? front : BucketStart(front) + kBucketMs;
  }
  for (const Bucket& b : buckets_) {
    if (b.start >= split) break;
    if (b.start + kBucketMs <= from_ms) continue;
    if (b.start > to_ms) break;
    const MinMax& m = b.m[c];
    if (m.lo == kPlotAbsent) continue;
    PlotPoint first{b.start + m.lo_at, m.lo}, second{b.start + m.hi_at, m.hi};
    if (second.t_ms < first.t_ms) std::swap(first, second);
    if (in_window(first.t_ms)) src.push_back(first);
    if (!(second == first) && in_window(second.t_ms)) src.push_back(second);
  }
  auto it = std::lower_bound(raw_.begin(), raw_.end(), std::max(split, from_ms), [](const Row& r, int64_t t) { return r.t_ms < t; });
  for (; it != raw_.end() && it->t_ms <= to_ms; ++it)
    if (it->v[c] != kPlotAbsent) src.push_back(PlotPoint{it->t_ms, it->v[c]});

  if (src.size() <= 2 * static_cast<size_t>(max_buckets)) return src;
  std::vector<PlotPoint> out;
  out.reserve(2 * static_cast<size_t>(max_buckets));
  const int64_t span = to_ms - from_ms + 1;
  size_t i = 0;
  while (i < src.size()) {
    const int64_t k = (src[i].t_ms - from_ms) * max_buckets / span;
    PlotPoint lo = src[i], hi = src[i];
    size_t j = i + 1;
    for (; j < src.size() && (src[j].t_ms - from_ms) * max_buckets / span == k; ++j) {
      if (src[j].value < lo.value) lo = src[j];
      if (src[j].value > hi.value) hi = src[j];
    }
    if (hi.t_ms < lo.t_ms) std::swap(lo, hi);
    out.push_back(lo);
    if (!(hi == lo)) out.push_back(hi);
    i = j;
  }
  return out;
}

// ---------------------------------------------------------------- CSV

namespace {

const char* const kCsvEnd = "\r\n";

std::string Seconds(int64_t ms) {
  const int64_t a = ms < 0 ? -ms : ms;
  std::string frac = std::to_string(a % 1000);
  frac.insert(0, 3 - frac.size(), '0');
  return (ms < 0 ? "-" : "") + std::to_string(a / 1000) + "." + frac;
}

}  // namespace

std::string PlotCsv(const PlotSeries& series, int64_t from_ms, int64_t to_ms) {
  std::string out = "Time,Seconds,Pack voltage (mV),Pack current (mA)";
  for (int cell = 1; cell <= 14; ++cell) out += ",Cell " + std::to_string(cell) + " (mV)";
  out += ",Highest cell (mV),Lowest cell (mV),T1 (C),T2 (C),T3 (C),SOC (%)";
  out += kCsvEnd;
  bool first = true;
  int64_t t0 = 0;
  for (const PlotSeries::Row& r : series.raw()) {
    if (r.t_ms < from_ms || r.t_ms > to_ms) continue;
    if (first) t0 = r.t_ms;
    first = false;
    out += FormatLocalTime(series.local_time_of(r.t_ms), "yyyy-mm-dd hh:nn:ss.zzz");
    out += ',';
    out += Seconds(r.t_ms - t0);
    for (int32_t v : r.v) {
      out += ',';
      if (v != kPlotAbsent) out += std::to_string(v);
    }
    out += kCsvEnd;
  }
  return out;
}

bool WritePlotCsv(const std::string& path, const PlotSeries& series, int64_t from_ms, int64_t to_ms, std::string* why) {
  return WriteFileAtomic(path, PlotCsv(series, from_ms, to_ms), why);
}

// ---------------------------------------------------------------- tap

void AttachPlotSampleQueue(Context& ctx, PlotSampleQueue* queue) {
  std::lock_guard<std::mutex> lock(ctx.plot_tap_mu);
  ctx.PlotTap = queue;
}

void TapPlotSample(Context& ctx) {
  {
    std::lock_guard<std::mutex> lock(ctx.plot_tap_mu);
    if (!ctx.PlotTap) return;
  }
  const int64_t t = ctx.clock.now_ms();
  const LocalTime local = ctx.clock.local_now();
  const PlotSample s = ctx.Live.with([&](LiveData& live) { return SampleFromLive(live, t, local); });
  std::lock_guard<std::mutex> lock(ctx.plot_tap_mu);
  if (ctx.PlotTap) ctx.PlotTap->push(s);
}

}  // namespace bms
