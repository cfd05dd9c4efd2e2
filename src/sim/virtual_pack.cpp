#include "sim/virtual_pack.h"

#include <algorithm>

#include "core/context.h"
#include "core/link/frame.h"
#include "sim/wire_log.h"

namespace bms::sim {

namespace {

// A partial message older than this is thrown away when new bytes come.
constexpr int64_t kStaleInputUs = 200000;

constexpr uint16_t kRegSleep = 0x4205;
constexpr uint16_t kRegDeepSleep = 0x4206;

void PutBE(uint8_t* p, uint64_t v, size_t width) {
  for (size_t i = 0; i < width; ++i) p[i] = static_cast<uint8_t>(v >> (8 * (width - 1 - i)));
}

std::array<uint8_t, 8> Words(uint16_t a, uint16_t b, uint16_t c, uint16_t d) {
  std::array<uint8_t, 8> r{};
  PutBE(&r[0], a, 2);
  PutBE(&r[2], b, 2);
  PutBE(&r[4], c, 2);
  PutBE(&r[6], d, 2);
  return r;
}

// Bytes of a text storage of `size` bytes: the text, zero-filled.
std::vector<uint8_t> Padded(const std::string& text, size_t size) {
  std::vector<uint8_t> b(size, 0);
  for (size_t i = 0; i < text.size() && i < size; ++i) b[i] = static_cast<uint8_t>(text[i]);
  return b;
}

// Back from bytes to the stored text: trailing zero bytes dropped.
std::string Unpadded(const std::vector<uint8_t>& b) {
  size_t n = b.size();
  while (n > 0 && b[n - 1] == 0) --n;
  return std::string(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n));
}

std::string UpToZero(const std::string& s) { return s.substr(0, s.find('\0')); }

std::array<uint8_t, 8> Chunk(const std::string& text, size_t size, uint16_t chunk) {
  const auto b = Padded(text, size);
  std::array<uint8_t, 8> r{};
  std::copy_n(b.begin() + (chunk - 1) * 8, 8, r.begin());
  return r;
}

void WriteChunk(std::string& text, size_t size, uint16_t chunk, const uint8_t data[8]) {
  auto b = Padded(text, size);
  std::copy_n(data, 8, b.begin() + (chunk - 1) * 8);
  text = Unpadded(b);
}

std::vector<uint8_t> Frame(uint8_t id, const std::array<uint8_t, 8>& data) {
  std::vector<uint8_t> f(kFrameSize, 0);
  f[0] = kFrameStart;
  f[2] = id;
  std::copy(data.begin(), data.end(), f.begin() + 3);
  f[11] = FrameChecksum(f.data());
  f[12] = kFrameEnd;
  return f;
}

std::array<uint8_t, 8> HeaderData(uint16_t address, uint16_t length, uint8_t status) {
  std::array<uint8_t, 8> d{};
  PutBE(&d[0], address, 2);
  PutBE(&d[2], length, 2);
  d[7] = status;
  return d;
}

uint32_t NextNoise(uint32_t& x) {
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  return x;
}

bool ValidClock(const uint8_t d[8]) {
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return d[1] >= 1 && d[1] <= 12 && d[2] >= 1 && d[2] <= kDays[d[1] - 1] && d[3] <= 23 && d[4] <= 59 && d[5] <= 59;
}

}  // namespace

std::array<uint8_t, 96> BuildStatusBlock(const Scenario& s) {
  std::array<uint8_t, 96> b{};
  b[0] = kStatusBlockStart;
  b[1] = s.asoc;
  b[2] = s.rsoc;
  PutBE(&b[3], s.cycle_count, 2);
  PutBE(&b[5], s.design_capacity_mah, 4);
  PutBE(&b[9], s.total_charge_capacity_mah & 0xFFFFFFFFFFFFull, 6);
  PutBE(&b[15], s.full_charge_capacity_mah, 4);
  PutBE(&b[19], s.remaining_capacity_mah, 4);
  PutBE(&b[23], static_cast<uint32_t>(s.pack_current_ma), 4);
  PutBE(&b[27], s.voltage_mv(), 4);
  for (size_t i = 0; i < 12; ++i) b[31 + i] = i < s.model_name.size() ? static_cast<uint8_t>(s.model_name[i]) : ' ';
  b[43] = s.fw_major;
  b[44] = s.fw_minor;
  b[45] = s.cell_series;
  b[46] = s.cell_parallel;
  b[47] = s.status_bits();
  b[48] = s.protection_flags;
  b[50] = static_cast<uint8_t>(s.t1);
  b[51] = static_cast<uint8_t>(s.t2);
  b[52] = static_cast<uint8_t>(s.t3);
  const auto sn = Padded(s.serial_number, 8);
  std::copy(sn.begin(), sn.end(), b.begin() + 56);
  std::copy(s.customer.begin(), s.customer.end(), b.begin() + 64);
  b[95] = StatusBlockSum(b.data());
  return b;
}

VirtualPack::VirtualPack(Clock& clock, Scenario scenario) : clock_(clock), s_(std::move(scenario)) {
  const ShuEnableConfig shu = DefaultShuEnableConfig();
  shu_request_ = shu.request;
  shu_ack_ = shu.acknowledge;
  reset_clock(s_.clock);
  for (const Fault& f : s_.faults) faults_.add(f);
  if (s_.silent) faults_.set_silent(true);
  if (s_.asleep) {
    sleep_ = SleepState::Sleep;
    sleep_since_ms_ = clock_.now_ms();
  }
}

void VirtualPack::reset_clock(const std::optional<LocalTime>& start) {
  clock_base_ = start ? *start : clock_.local_now();
  clock_base_.millisecond = 0;
  clock_base_ms_ = clock_.now_ms();
}

LocalTime VirtualPack::clock_at(int64_t t_ms) const { return AddMilliseconds(clock_base_, t_ms - clock_base_ms_); }

void VirtualPack::maybe_auto_wake(int64_t t_ms) {
  if (sleep_ != SleepState::Awake && s_.auto_wake_ms > 0 && t_ms - sleep_since_ms_ >= s_.auto_wake_ms) {
    sleep_ = SleepState::Awake;
    rx_.clear();
  }
}

// ---------------------------------------------------------------------------
// Host stream.

std::vector<Burst> VirtualPack::receive(const uint8_t* data, size_t n, int64_t t_us, int baud) {
  std::vector<Burst> out;
  const double spacing = ByteTimeUs(baud);
  std::lock_guard<std::mutex> lock(mu_);
  maybe_auto_wake(t_us / 1000);
  if (live_model_) live_model_(s_, t_us / 1000);
  if (baud == kGatewayLineBaud) {
    // At the gateway's speed the line carries gateway frames only.
    const auto replies = gateway_.receive(data, n, t_us, spacing, s_.latency_us, s_.oz890_eeprom, s_.gateway_faults);
    if (sleep_ != SleepState::Awake || faults_.silent()) return out;
    for (const GatewayBurst& g : replies) out.push_back(Burst{g.at_us - t_us, g.bytes, spacing});
    return out;
  }
  if (!rx_.empty() && t_us - last_rx_us_ > kStaleInputUs) rx_.clear();
  for (size_t i = 0; i < n; ++i) {
    const int64_t end_us = t_us + WireOffsetUs(i + 1, spacing);
    rx_.push_back(data[i]);
    last_rx_us_ = end_us;
    for (;;) {
      const Parse p = parse_front(end_us, spacing, t_us, out);
      if (p == Parse::NeedMore) break;
      if (p == Parse::Drop) rx_.erase(rx_.begin());
    }
  }
  return out;
}

// Looks at the start of the input. The first byte selects the protocol:
// 0x40 a register frame, "&" the status poll, the SHU EN block's first byte
// that block, 0x60 a Modbus RTU request to slave 0x60. (The I2C gateway's
// 0x55 0xAA frames would be recognised here as well.) Anything else is noise
// and dropped byte by byte until a known start is found again.
VirtualPack::Parse VirtualPack::parse_front(int64_t end_us, double spacing, int64_t t0_us, std::vector<Burst>& out) {
  if (rx_.empty()) return Parse::NeedMore;
  const uint8_t first = rx_[0];
  if (first == kFrameStart) {
    if (rx_.size() < kFrameSize) return Parse::NeedMore;
    if (rx_[12] != kFrameEnd || FrameChecksum(rx_.data()) != rx_[11]) return Parse::Drop;
    uint8_t f[kFrameSize];
    std::copy_n(rx_.begin(), kFrameSize, f);
    rx_.erase(rx_.begin(), rx_.begin() + kFrameSize);
    handle_frame(f, end_us, spacing, t0_us, out);
    return Parse::Consumed;
  }
  if (first == 0x26) {
    if (rx_.size() < 3) {
      if (rx_.size() == 2 && rx_[1] != 0x0D) return Parse::Drop;
      return Parse::NeedMore;
    }
    if (rx_[1] != 0x0D || rx_[2] != 0x0A) return Parse::Drop;
    rx_.erase(rx_.begin(), rx_.begin() + 3);
    ++status_polls_;
    answer(
        RequestInfo{RequestKind::StatusPoll, 0, 0, 0},
        [this]() -> std::optional<std::vector<uint8_t>> {
          const auto b = BuildStatusBlock(s_);
          return std::vector<uint8_t>(b.begin(), b.end());
        },
        Shape::StatusBlock, end_us, spacing, t0_us, out);
    return Parse::Consumed;
  }
  if (first == kModbusSlave) {
    ModbusRequest req;
    const ModbusFront m = ParseModbusFront(rx_.data(), rx_.size(), &req);
    if (m != ModbusFront::Frame) return m == ModbusFront::NeedMore ? Parse::NeedMore : Parse::Drop;
    rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(req.size));
    answer(
        RequestInfo{RequestKind::Modbus, req.start, req.quantity, req.function}, [this, req]() -> std::optional<std::vector<uint8_t>> { return modbus_.answer(req); },
        Shape::Modbus, end_us, spacing, t0_us, out);
    return Parse::Consumed;
  }
  if (!shu_request_.empty() && first == shu_request_[0]) {
    const size_t k = std::min(rx_.size(), shu_request_.size());
    if (!std::equal(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(k), shu_request_.begin())) return Parse::Drop;
    if (k < shu_request_.size()) return Parse::NeedMore;
    rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(k));
    ++shu_enables_;
    answer(
        RequestInfo{RequestKind::ShuEnable, 0, 0, 0}, [this]() -> std::optional<std::vector<uint8_t>> { return shu_ack_; }, Shape::Ack, end_us, spacing, t0_us, out);
    return Parse::Consumed;
  }
  return Parse::Drop;
}

void VirtualPack::handle_frame(const uint8_t* f, int64_t end_us, double spacing, int64_t t0_us, std::vector<Burst>& out) {
  const uint8_t* d = f + 3;
  const int64_t t_ms = end_us / 1000;
  if (f[1] != 0) return;
  if (f[2] == kFrameRequest) {
    Pending p;
    p.address = static_cast<uint16_t>(d[0] << 8 | d[1]);
    p.length = static_cast<uint16_t>(d[2] << 8 | d[3]);
    p.param = static_cast<uint32_t>(d[4] << 16 | d[5] << 8 | d[6]);
    p.count = d[7];
    ++requests_[{p.address, p.length}];
    pending_.reset();
    if (p.address == kRegSleep || p.address == kRegDeepSleep) {
      answer(
          RequestInfo{RequestKind::Sleep, p.address, p.length, p.param},
          [this, p, t_ms]() -> std::optional<std::vector<uint8_t>> {
            sleep_ = p.address == kRegSleep ? SleepState::Sleep : SleepState::DeepSleep;
            sleep_since_ms_ = t_ms;
            rx_.clear();
            return std::nullopt;
          },
          Shape::Frames, end_us, spacing, t0_us, out);
      return;
    }
    if (p.count > 0) {
      // A write: the payload frame that follows completes it.
      if (sleep_ == SleepState::Awake && !faults_.silent()) pending_ = p;
      return;
    }
    answer(
        RequestInfo{RequestKind::RegisterRead, p.address, p.length, p.param},
        [this, p, t_ms]() -> std::optional<std::vector<uint8_t>> {
          const auto data = read_register(p.address, p.length, p.param, t_ms);
          if (!data) return std::nullopt;
          std::vector<uint8_t> r = Frame(kFrameReplyHeader, HeaderData(p.address, p.length, 0));
          const auto body = Frame(kFrameReplyData, *data);
          r.insert(r.end(), body.begin(), body.end());
          return r;
        },
        Shape::Frames, end_us, spacing, t0_us, out);
    return;
  }
  if (f[2] == kFramePayload) {
    if (!pending_) return;
    const Pending p = *pending_;
    pending_.reset();
    ++payloads_;
    std::array<uint8_t, 8> payload{};
    std::copy_n(d, 8, payload.begin());
    answer(
        RequestInfo{RequestKind::RegisterWrite, p.address, p.length, p.param},
        [this, p, payload, t_ms]() -> std::optional<std::vector<uint8_t>> {
          const auto status = write_register(p, payload.data(), t_ms);
          if (!status) return std::nullopt;
          return Frame(kFrameReplyHeader, HeaderData(p.address, p.length, *status));
        },
        Shape::Frames, end_us, spacing, t0_us, out);
  }
  // Frame ids 3 and 4 come only from a pack; a host never sends them.
}

// Runs one exchange: the fault rules decide whether the pack hears it, `act`
// changes the state and builds the answer, and the faults then shape the
// bytes and their timing.
void VirtualPack::answer(const RequestInfo& info, const std::function<std::optional<std::vector<uint8_t>>()>& act, Shape shape, int64_t end_us, double spacing, int64_t t0_us,
                         std::vector<Burst>& out) {
  if (sleep_ != SleepState::Awake || faults_.silent()) return;
  const std::vector<Fault> faults = faults_.evaluate(info);
  for (const Fault& f : faults)
    if (f.action == FaultAction::Silence) return;
  std::vector<uint8_t> r = act().value_or(std::vector<uint8_t>{});

  // Content first: header fields (checksum kept valid), then broken checksums.
  const bool frames = shape == Shape::Frames && r.size() >= kFrameSize;
  for (const Fault& f : faults) {
    if (!frames) break;
    if (f.action == FaultAction::StatusByte) r[10] = f.value;
    if (f.action == FaultAction::WrongEcho) PutBE(&r[3], f.echo_address, 2);
    if (f.action == FaultAction::StatusByte || f.action == FaultAction::WrongEcho) r[11] = FrameChecksum(r.data());
  }
  for (const Fault& f : faults) {
    if (f.action != FaultAction::WrongSlave || shape != Shape::Modbus || r.size() < 3) continue;
    r[0] = f.value;  // another slave's address, CRC kept valid
    r = ModbusFrameWithCrc(std::vector<uint8_t>(r.begin(), r.end() - 2));
  }
  for (const Fault& f : faults) {
    if (f.action != FaultAction::BadChecksum || r.empty()) continue;
    if (shape == Shape::Frames) {
      const size_t at = static_cast<size_t>(f.frame) * kFrameSize + 11;
      if (at < r.size()) r[at] ^= 0xFF;
    } else if (shape == Shape::StatusBlock || shape == Shape::Modbus) {
      r.back() ^= 0xFF;  // the sum, or the high byte of the CRC
    } else if (r.size() >= 2) {
      r[r.size() - 2] ^= 0xFF;  // the acknowledgement has no checksum: spoil its last character
    }
  }
  // Bit errors and answers repeated on the line.
  for (const Fault& f : faults) {
    if (f.action == FaultAction::BitFlip && f.at_byte < r.size()) r[f.at_byte] ^= static_cast<uint8_t>(1u << (f.value & 7u));
    if (f.action == FaultAction::Duplicate && !r.empty()) {
      const std::vector<uint8_t> once = r;
      r.insert(r.end(), once.begin(), once.end());
    }
  }
  // Then the length.
  for (const Fault& f : faults) {
    switch (f.action) {
      case FaultAction::ExtraFrame: {
        const auto extra = Frame(kFrameReplyData, {});
        r.insert(r.end(), extra.begin(), extra.end());
        break;
      }
      case FaultAction::AddBytes:
        r.insert(r.end(), static_cast<size_t>(std::max(0, f.count)), 0x00);
        break;
      case FaultAction::DropBytes:
        r.resize(r.size() - std::min(r.size(), static_cast<size_t>(std::max(0, f.count))));
        break;
      case FaultAction::Noise: {
        uint32_t x = f.seed ? f.seed : 1;
        std::vector<uint8_t> noise;
        for (int i = 0; i < f.count; ++i) noise.push_back(static_cast<uint8_t>(NextNoise(x) >> 24));
        r.insert(r.begin() + static_cast<std::ptrdiff_t>(std::min(f.at_byte, r.size())), noise.begin(), noise.end());
        break;
      }
      default:
        break;
    }
  }
  if (r.empty()) return;

  // Timing: after the device latency, once the pack's own line is free.
  int64_t start = std::max(end_us + s_.latency_us, tx_free_us_);
  std::vector<std::pair<size_t, int64_t>> gaps;
  for (const Fault& f : faults) {
    if (f.action == FaultAction::Delay) start += f.ms * 1000;
    if (f.action == FaultAction::Gap) {
      if (f.at_byte == 0) {
        start += f.ms * 1000;
      } else if (f.at_byte < r.size()) {
        gaps.emplace_back(f.at_byte, f.ms * 1000);
      }
    }
  }
  std::sort(gaps.begin(), gaps.end());
  size_t from = 0;
  int64_t pause = 0;
  auto emit = [&](size_t to) {
    if (to <= from) return;
    Burst b;
    b.offset_us = start + WireOffsetUs(from, spacing) + pause - t0_us;
    b.bytes.assign(r.begin() + static_cast<std::ptrdiff_t>(from), r.begin() + static_cast<std::ptrdiff_t>(to));
    b.spacing_us = spacing;
    tx_free_us_ = start + WireOffsetUs(to, spacing) + pause;
    out.push_back(std::move(b));
    from = to;
  };
  for (const auto& [at, us] : gaps) {
    emit(at);
    pause += us;
  }
  emit(r.size());
}

// ---------------------------------------------------------------------------
// Registers.

std::optional<std::array<uint8_t, 8>> VirtualPack::read_register(uint16_t address, uint16_t length, uint32_t param, int64_t t_ms) const {
  using Data = std::array<uint8_t, 8>;
  const EepromHeaderData& h = s_.header;
  auto cells = [&](const std::array<uint16_t, kMaxCells>& v) -> std::optional<Data> {
    if (length < 1 || length > 4) return std::nullopt;
    const size_t i = (length - 1u) * 4u;
    if (length == 4) return Words(v[12], v[13], 0, 0);
    return Words(v[i], v[i + 1], v[i + 2], v[i + 3]);
  };
  auto plain = [&](std::initializer_list<std::pair<uint64_t, size_t>> fields) -> std::optional<Data> {
    if (length != 0) return std::nullopt;
    Data d{};
    size_t at = 0;
    for (const auto& [value, width] : fields) {
      PutBE(&d[at], value, width);
      at += width;
    }
    return d;
  };
  auto records = [&](const std::vector<HistoryEntry>& list) -> std::optional<Data> {
    if (length < 1 || length > 4 || param < 1 || param > list.size()) return std::nullopt;
    const auto bytes = list[param - 1].Bytes();
    Data d{};
    std::copy_n(bytes.begin() + (length - 1) * 8, 8, d.begin());
    return d;
  };
  auto count = [&](const std::vector<HistoryEntry>& list) { return plain({{std::min<size_t>(list.size(), 0xFFFF), 2}}); };
  auto u32 = [](int32_t v) { return static_cast<uint64_t>(static_cast<uint32_t>(v)); };

  switch (address) {
    case 0x0005:
      return plain({{s_.fw_version[0], 1}, {s_.fw_version[1], 1}, {s_.fw_version[2], 1}});
    case 0x0006:
      return plain({{s_.t1t2_swap[0], 1}, {s_.t1t2_swap[1], 1}});
    case 0x1001:
      if (s_.correct_cells) {
        // The connection drop I x R (mA x mOhm = uV) taken off the raw voltage.
        std::array<uint16_t, kMaxCells> v = s_.raw_cells_mv;
        for (size_t i = 0; i < kResistanceCells; ++i) {
          const int64_t mv = v[i] - static_cast<int64_t>(s_.pack_current_ma) * s_.cell_resistance_mohm[i] / 1000;
          v[i] = static_cast<uint16_t>(std::clamp<int64_t>(mv, 0, 65535));
        }
        return cells(v);
      }
      return cells(s_.cells_mv);
    case 0x1005: {
      const LocalTime t = clock_at(t_ms);
      return plain({{static_cast<uint64_t>(t.year - 2000) & 0xFF, 1},
                    {static_cast<uint64_t>(t.month), 1},
                    {static_cast<uint64_t>(t.day), 1},
                    {static_cast<uint64_t>(t.hour), 1},
                    {static_cast<uint64_t>(t.minute), 1},
                    {static_cast<uint64_t>(t.second), 1}});
    }
    case 0x100B:
      return cells(s_.raw_cells_mv);
    case 0x100C:
      if (length < 1 || length > kResistanceCells) return std::nullopt;
      return Words(s_.cell_resistance_mohm[length - 1u], 0, 0, 0);
    case 0x100D: {
      if (length < 1 || length > kSocOcvPages) return std::nullopt;
      const size_t i = (length - 1u) * 4u;
      return Words(s_.soc_ocv[i], s_.soc_ocv[i + 1], s_.soc_ocv[i + 2], s_.soc_ocv[i + 3]);
    }
    case 0x100E: {
      if (length != 1) return std::nullopt;
      Data d{};
      PutBE(&d[4], s_.total_discharge_capacity_mah, 4);
      return d;
    }
    case 0x2001: {
      Data d{};
      const auto sn = Padded(s_.serial_number, 8);
      std::copy(sn.begin(), sn.end(), d.begin());
      return d;
    }
    case 0x2008:
      if (!s_.barcode_int16 || length < 1 || length > 2) return std::nullopt;
      return Chunk(*s_.barcode_int16, 16, length);
    case 0x200A:
      if (!s_.barcode_int32 || length < 1 || length > 4) return std::nullopt;
      return Chunk(*s_.barcode_int32, 32, length);
    case 0x6207:
      if (!s_.barcode_ext32 || length < 1 || length > 4) return std::nullopt;
      return Chunk(*s_.barcode_ext32, 32, length);
    case 0x200B:
      return plain({{s_.shipping_mode ? 1u : 0u, 1}});
    case 0x3300:
      if (length < 1 || length > kProtectionPages) return std::nullopt;
      return s_.protection[length - 1u];
    case 0x6100:
      return plain({{h.size, 2}});
    case 0x6101:
      return plain({{h.id[0], 1}, {h.id[1], 1}, {h.id[2], 1}, {h.id[3], 1}});
    case 0x6102:
      return plain({{h.current_unit, 1}});
    case 0x6103:
      return plain({{h.voltage_unit, 1}});
    case 0x6104:
      return plain({{h.volt_diff_unit, 1}});
    case 0x6200:
      return plain({{h.max_volt_diff, 2}});
    case 0x6201:
      return plain({{h.warranty_cycles, 2}});
    case 0x6202:
      return plain({{h.warranty_capacity_percent, 1}});
    case 0x6203:
      return plain({{h.warranty_months, 1}});
    case 0x6204:
      if (length < 1 || length > 2) return std::nullopt;
      return Chunk(h.cell_type, 16, length);
    case 0x6205:
      return plain({{h.cycle_count, 2}});
    case 0x6206:
      return plain({{u32(h.total_charge_capacity), 4}});
    case 0x6500:
      return count(s_.protect_records);
    case 0x6600:
      return count(s_.lead_records);
    case 0x6602:
      return count(s_.last_records);
    case 0x6501:
      return records(s_.protect_records);
    case 0x6601:
      return records(s_.lead_records);
    case 0x6603:
      return records(s_.last_records);
    default:
      break;
  }
  if (address >= 0x6300 && address <= 0x6309) return plain({{h.event_totals[address - 0x6300u], 2}});
  if (address >= 0x6400 && address <= 0x6406) return plain({{u32(h.flag_totals[address - 0x6400u]), 4}, {u32(h.flag_extremes[address - 0x6400u]), 4}});
  if (address == 0x6407) return plain({{u32(h.flag_totals[7]), 4}});
  return std::nullopt;
}

// Applies a completed write. Returns the status byte of the echo, or nothing
// when the pack does not know the register (no answer).
std::optional<uint8_t> VirtualPack::write_register(const Pending& p, const uint8_t d[8], int64_t t_ms) {
  const uint16_t len = p.length;
  switch (p.address) {
    case 0x4209:  // shipping mode
      if (len != 0) return std::nullopt;
      s_.shipping_mode = d[0] != 0;
      return 0;
    case 0x0F00:  // gateway (transparent) mode
      if (len != 0) return std::nullopt;
      s_.gateway_mode = d[0] != 0;
      return 0;
    case 0x000E:  // MOSFET switch: FF 10 on, FF 20 off
      if (len != 0) return std::nullopt;
      if (d[0] != 0xFF || (d[1] != 0x10 && d[1] != 0x20)) return 1;
      s_.mosfet_on = d[1] == 0x10;
      return 0;
    case 0x4006: {  // clock set: year-2000, month, day, hour, minute, second
      if (len != 0) return std::nullopt;
      if (!ValidClock(d)) return 1;
      clock_base_ = LocalTime{2000 + d[0], d[1], d[2], d[3], d[4], d[5], 0};
      clock_base_ms_ = t_ms;
      return 0;
    }
    case 0x4101:  // controller TCC erase
      if (len != 0) return std::nullopt;
      s_.total_charge_capacity_mah = 0;
      ++erases_[p.address];
      return 0;
    case 0x4102:  // controller EEP erase
      if (len != 0) return std::nullopt;
      ++erases_[p.address];
      return 0;
    case 0x4103:  // external EEPROM erase (payload byte 0 = 1)
      if (len != 0) return std::nullopt;
      if (d[0] == 1) {
        s_.protect_records.clear();
        s_.lead_records.clear();
        s_.last_records.clear();
        s_.header.event_totals.fill(0);
        s_.header.flag_totals.fill(0);
        s_.header.flag_extremes.fill(0);
        ++erases_[p.address];
      }
      return 0;
    case 0x4009: {  // 32-character barcode: the external storage when fitted, else the internal one
      std::optional<std::string>* target = s_.barcode_ext32 ? &s_.barcode_ext32 : s_.barcode_int32 ? &s_.barcode_int32 : nullptr;
      if (!target || len < 1 || len > 4) return std::nullopt;
      WriteChunk(**target, 32, len, d);
      return 0;
    }
    case 0x4008:  // 16-character barcode
      if (!s_.barcode_int16 || len < 1 || len > 2) return std::nullopt;
      WriteChunk(*s_.barcode_int16, 16, len, d);
      return 0;
    case 0x4001:  // serial number
      if (len != 0) return std::nullopt;
      s_.serial_number = Unpadded(std::vector<uint8_t>(d, d + 8));
      return 0;
    case 0x3400:  // cell resistance of cell `len`
      if (len < 1 || len > kResistanceCells) return std::nullopt;
      s_.cell_resistance_mohm[len - 1u] = static_cast<uint16_t>(d[0] << 8 | d[1]);
      return 0;
    case 0x4400:  // protection parameters, page `len`
      if (len < 1 || len > kProtectionPages) return std::nullopt;
      std::copy_n(d, 8, s_.protection[len - 1u].begin());
      return 0;
    case 0x4500: {  // SOC-OCV table, page `len`; page 26 carries entry 100 only
      if (len < 1 || len > kSocOcvPages) return std::nullopt;
      const size_t i = (len - 1u) * 4u;
      const size_t words = len == kSocOcvPages ? 1 : 4;
      for (size_t k = 0; k < words; ++k) s_.soc_ocv[i + k] = static_cast<uint16_t>(d[2 * k] << 8 | d[2 * k + 1]);
      return 0;
    }
    default:
      return std::nullopt;
  }
}

// ---------------------------------------------------------------------------
// State access.

Scenario VirtualPack::scenario() const {
  std::lock_guard<std::mutex> lock(mu_);
  return s_;
}

void VirtualPack::set_scenario(Scenario s) {
  std::lock_guard<std::mutex> lock(mu_);
  s_ = std::move(s);
  reset_clock(s_.clock);
}

void VirtualPack::set_live_model(std::function<void(Scenario&, int64_t)> fn) {
  std::lock_guard<std::mutex> lock(mu_);
  live_model_ = std::move(fn);
}

void VirtualPack::update(const std::function<void(Scenario&)>& fn) {
  std::lock_guard<std::mutex> lock(mu_);
  fn(s_);
}

SleepState VirtualPack::sleep_state() const {
  std::lock_guard<std::mutex> lock(mu_);
  return sleep_;
}

void VirtualPack::sleep(SleepState how) {
  std::lock_guard<std::mutex> lock(mu_);
  sleep_ = how;
  sleep_since_ms_ = clock_.now_ms();
  rx_.clear();
  pending_.reset();
}

void VirtualPack::wake() {
  std::lock_guard<std::mutex> lock(mu_);
  sleep_ = SleepState::Awake;
  rx_.clear();
}

bool VirtualPack::shipping_mode() const {
  std::lock_guard<std::mutex> lock(mu_);
  return s_.shipping_mode;
}

void VirtualPack::set_shipping_mode(bool on) {
  std::lock_guard<std::mutex> lock(mu_);
  s_.shipping_mode = on;
}

bool VirtualPack::gateway_mode() const {
  std::lock_guard<std::mutex> lock(mu_);
  return s_.gateway_mode;
}

bool VirtualPack::mosfet_on() const {
  std::lock_guard<std::mutex> lock(mu_);
  return s_.mosfet_on;
}

void VirtualPack::set_gateway_mode(bool on) {
  std::lock_guard<std::mutex> lock(mu_);
  s_.gateway_mode = on;
}

void VirtualPack::set_mosfet_on(bool on) {
  std::lock_guard<std::mutex> lock(mu_);
  s_.mosfet_on = on;
}

void VirtualPack::set_barcode_ext32(std::optional<std::string> text) {
  std::lock_guard<std::mutex> lock(mu_);
  s_.barcode_ext32 = std::move(text);
}

void VirtualPack::set_barcode_int32(std::optional<std::string> text) {
  std::lock_guard<std::mutex> lock(mu_);
  s_.barcode_int32 = std::move(text);
}

void VirtualPack::set_barcode_int16(std::optional<std::string> text) {
  std::lock_guard<std::mutex> lock(mu_);
  s_.barcode_int16 = std::move(text);
}

void VirtualPack::set_serial_number(const std::string& text) {
  std::lock_guard<std::mutex> lock(mu_);
  s_.serial_number = text;
}

LocalTime VirtualPack::pack_clock() const {
  std::lock_guard<std::mutex> lock(mu_);
  return clock_at(clock_.now_ms());
}

void VirtualPack::set_pack_clock(const LocalTime& t) {
  std::lock_guard<std::mutex> lock(mu_);
  reset_clock(t);
}

std::optional<std::string> VirtualPack::barcode_ext32() const {
  std::lock_guard<std::mutex> lock(mu_);
  if (!s_.barcode_ext32) return std::nullopt;
  return UpToZero(*s_.barcode_ext32);
}

std::optional<std::string> VirtualPack::barcode_int32() const {
  std::lock_guard<std::mutex> lock(mu_);
  if (!s_.barcode_int32) return std::nullopt;
  return UpToZero(*s_.barcode_int32);
}

std::optional<std::string> VirtualPack::barcode_int16() const {
  std::lock_guard<std::mutex> lock(mu_);
  if (!s_.barcode_int16) return std::nullopt;
  return UpToZero(*s_.barcode_int16);
}

std::string VirtualPack::serial_number() const {
  std::lock_guard<std::mutex> lock(mu_);
  return UpToZero(s_.serial_number);
}

size_t VirtualPack::history_count(HistoryList list) const {
  std::lock_guard<std::mutex> lock(mu_);
  switch (list) {
    case HistoryList::Protect:
      return s_.protect_records.size();
    case HistoryList::Lead:
      return s_.lead_records.size();
    case HistoryList::Last:
      return s_.last_records.size();
  }
  return 0;
}

std::array<uint8_t, 96> VirtualPack::status_block() const {
  std::lock_guard<std::mutex> lock(mu_);
  return BuildStatusBlock(s_);
}

void VirtualPack::set_latency_us(int64_t us) {
  std::lock_guard<std::mutex> lock(mu_);
  s_.latency_us = us < 0 ? 0 : us;
}

int VirtualPack::request_count(uint16_t address) const {
  std::lock_guard<std::mutex> lock(mu_);
  int n = 0;
  for (const auto& [key, count] : requests_)
    if (key.first == address) n += count;
  return n;
}

int VirtualPack::request_count(uint16_t address, uint16_t length) const {
  std::lock_guard<std::mutex> lock(mu_);
  const auto it = requests_.find({address, length});
  return it == requests_.end() ? 0 : it->second;
}

int VirtualPack::status_polls() const {
  std::lock_guard<std::mutex> lock(mu_);
  return status_polls_;
}

int VirtualPack::shu_enables() const {
  std::lock_guard<std::mutex> lock(mu_);
  return shu_enables_;
}

int VirtualPack::payloads() const {
  std::lock_guard<std::mutex> lock(mu_);
  return payloads_;
}

int VirtualPack::gateway_requests() const {
  std::lock_guard<std::mutex> lock(mu_);
  return gateway_.requests();
}

int VirtualPack::gateway_requests(uint8_t reg) const {
  std::lock_guard<std::mutex> lock(mu_);
  return gateway_.requests(reg);
}

int VirtualPack::erase_count(uint16_t address) const {
  std::lock_guard<std::mutex> lock(mu_);
  const auto it = erases_.find(address);
  return it == erases_.end() ? 0 : it->second;
}

void VirtualPack::reset_counters() {
  std::lock_guard<std::mutex> lock(mu_);
  requests_.clear();
  erases_.clear();
  status_polls_ = shu_enables_ = payloads_ = 0;
  gateway_.reset_counters();
}

void VirtualPack::set_open_error(PortError e) {
  std::lock_guard<std::mutex> lock(mu_);
  open_error_ = e;
}

PortError VirtualPack::open_error() const {
  std::lock_guard<std::mutex> lock(mu_);
  return open_error_;
}

void VirtualPack::unplug_at(int64_t t_ms) {
  std::lock_guard<std::mutex> lock(mu_);
  unplug_ms_ = t_ms;
}

void VirtualPack::replug() {
  std::lock_guard<std::mutex> lock(mu_);
  unplug_ms_.reset();
}

std::optional<int64_t> VirtualPack::unplug_time() const {
  std::lock_guard<std::mutex> lock(mu_);
  return unplug_ms_;
}

bool VirtualPack::claim() {
  std::lock_guard<std::mutex> lock(mu_);
  if (claimed_) return false;
  claimed_ = true;
  return true;
}

void VirtualPack::release() {
  std::lock_guard<std::mutex> lock(mu_);
  claimed_ = false;
}

// ---------------------------------------------------------------------------
// Pacing.

void VirtualPack::set_reply_gaps(std::vector<std::pair<size_t, int64_t>> gaps) {
  std::sort(gaps.begin(), gaps.end());
  std::lock_guard<std::mutex> lock(mu_);
  reply_gaps_ = std::move(gaps);
}

std::vector<Burst> VirtualPack::paced(std::vector<Burst> bursts) const {
  std::lock_guard<std::mutex> lock(mu_);
  if (reply_gaps_.empty()) return bursts;
  std::vector<Burst> out;
  for (Burst& b : bursts) {
    size_t from = 0;
    int64_t pause = 0;
    auto piece = [&](size_t to) {
      if (to <= from) return;
      Burst p;
      p.offset_us = b.offset_us + WireOffsetUs(from, b.spacing_us) + pause;
      p.bytes.assign(b.bytes.begin() + static_cast<std::ptrdiff_t>(from), b.bytes.begin() + static_cast<std::ptrdiff_t>(to));
      p.spacing_us = b.spacing_us;
      out.push_back(std::move(p));
      from = to;
    };
    for (const auto& [at, gap_us] : reply_gaps_) {
      if (at == 0 || at >= b.bytes.size()) continue;
      piece(at);
      pause += gap_us;
    }
    piece(b.bytes.size());
  }
  return out;
}

}  // namespace bms::sim
