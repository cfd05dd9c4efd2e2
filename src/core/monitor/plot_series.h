#pragma once
// The live plots' data: a sample of the decoded values at the end of every
// completed polling cycle, the bounded queue that carries the samples from
// the polling worker to the front end, and the series the plots draw from,
// kept for up to 24 h with min/max decimation so that peaks survive.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "core/platform/clock.h"

namespace bms {

struct LiveData;

// The quantities of a sample, in the order of the CSV columns.
enum class PlotChannel : int {
  PackVoltage = 0,  // mV
  PackCurrent,      // mA
  Cell1,            // mV; Cell1 + n - 1 is cell n (1..14)
  CellHigh = Cell1 + 14,
  CellLow,
  T1,  // °C
  T2,
  T3,
  Soc,  // %
};
inline constexpr int kPlotChannels = static_cast<int>(PlotChannel::Soc) + 1;
inline constexpr PlotChannel CellChannel(int cell) { return static_cast<PlotChannel>(static_cast<int>(PlotChannel::Cell1) + cell - 1); }

// A value the display did not show (a cell above the series count, T3 when
// the pack reports none).
inline constexpr int32_t kPlotAbsent = std::numeric_limits<int32_t>::min();

struct PlotSample {
  int64_t t_ms = 0;  // the clock's monotonic time
  LocalTime local;   // the wall-clock time of the same instant
  std::array<int32_t, kPlotChannels> v{};
  int32_t at(PlotChannel c) const { return v[static_cast<size_t>(c)]; }
};

// The sample of the values decoded in the cycle that just completed.
PlotSample SampleFromLive(const LiveData& live, int64_t t_ms, const LocalTime& local);

// From the polling worker to the front end. push() never blocks for longer
// than a short lock and never grows the queue past its capacity: a sample
// that finds it full is dropped and counted.
class PlotSampleQueue {
 public:
  static constexpr size_t kDefaultCapacity = 1024;
  explicit PlotSampleQueue(size_t capacity = kDefaultCapacity) : capacity_(capacity) {}

  // False when the sample was dropped (queue full).
  bool push(const PlotSample& s);
  // Everything queued so far, oldest first.
  std::vector<PlotSample> drain();
  uint64_t dropped() const { return dropped_.load(); }
  size_t capacity() const { return capacity_; }

 private:
  const size_t capacity_;
  std::atomic<uint64_t> dropped_{0};
  std::mutex mu_;
  std::vector<PlotSample> queue_;
};

struct PlotPoint {
  int64_t t_ms;
  int32_t value;
  bool operator==(const PlotPoint& o) const { return t_ms == o.t_ms && value == o.value; }
};

// The samples of the last 24 h. Recent samples are kept whole (at most
// kRawCapacity of them); every sample also goes into a bucket of
// kBucketMs that keeps the lowest and highest value of each channel with
// their times, so a long time window is drawn from buckets and never loses a
// peak. Not thread-safe: owned by one thread (the front end's).
class PlotSeries {
 public:
  static constexpr int64_t kSpanMs = 24LL * 3600 * 1000;
  static constexpr int64_t kBucketMs = 10'000;
  static constexpr size_t kRawCapacity = 131'072;  // 24 h at one sample each 0.66 s

  // A sample as the series keeps it (its wall-clock time follows from t_ms).
  struct Row {
    int64_t t_ms = 0;
    std::array<int32_t, kPlotChannels> v{};
    int32_t at(PlotChannel c) const { return v[static_cast<size_t>(c)]; }
  };

  explicit PlotSeries(size_t raw_capacity = kRawCapacity) : raw_capacity_(raw_capacity) {}

  // Samples must come in time order; one older than the newest is ignored.
  void add(const PlotSample& s);
  void clear();

  bool empty() const { return raw_.empty(); }
  int64_t newest_ms() const { return raw_.empty() ? 0 : raw_.back().t_ms; }
  // The oldest instant data is kept for (whole samples or buckets).
  int64_t oldest_ms() const;
  size_t raw_size() const { return raw_.size(); }
  size_t bucket_count() const { return buckets_.size(); }
  const std::deque<Row>& raw() const { return raw_; }
  // The wall-clock time of an instant, from the first sample's.
  LocalTime local_time_of(int64_t t_ms) const { return AddMilliseconds(first_local_, t_ms - first_t_ms_); }
  // Bytes held by the samples and buckets (what the bounds limit).
  size_t memory_bytes() const;

  // The line of one channel over [from_ms, to_ms] in time order, at most
  // 2 * max_buckets points: where more values fall in the window, it is cut
  // into max_buckets equal spans and each gives its lowest and highest
  // value, in the order they occurred. Absent values are left out. Spans of
  // a bucket or longer are drawn from the buckets.
  std::vector<PlotPoint> line(PlotChannel c, int64_t from_ms, int64_t to_ms, int max_buckets) const;

 private:
  struct MinMax {
    int32_t lo = kPlotAbsent, hi = kPlotAbsent;
    uint16_t lo_at = 0, hi_at = 0;  // ms after the bucket's start
  };
  struct Bucket {
    int64_t start = 0;
    std::array<MinMax, kPlotChannels> m{};
  };
  static_assert(kBucketMs <= 65'536, "bucket offsets are 16-bit");
  static int64_t BucketStart(int64_t t);
  void trim();

  size_t raw_capacity_;
  std::deque<Row> raw_;
  std::deque<Bucket> buckets_;
  bool raw_trimmed_ = false;  // raw_ no longer holds every sample the buckets saw
  int64_t first_t_ms_ = 0;
  LocalTime first_local_;
};

// The CSV of the samples in [from_ms, to_ms]: a header line, then one row
// per sample: wall-clock time, seconds since the first row, then the
// channels; absent values are empty fields. CR LF line ends, '.' as the
// decimal mark whatever the locale.
std::string PlotCsv(const PlotSeries& series, int64_t from_ms, int64_t to_ms);
// Writes it atomically (a crash leaves the old file or the whole new one).
bool WritePlotCsv(const std::string& path, const PlotSeries& series, int64_t from_ms, int64_t to_ms, std::string* why);

class Context;
// Connects the tap of ctx's polling loops to a queue (nullptr: none, the
// default, so a tool without plots pays nothing). Once it returns with
// nullptr, no push into the former queue is under way or will come.
void AttachPlotSampleQueue(Context& ctx, PlotSampleQueue* queue);
// The tap of the polling loops: at the end of a completed cycle, a sample of
// ctx.Live with the clock's time goes into the attached queue.
void TapPlotSample(Context& ctx);

}  // namespace bms
