#include "sim/wire_log.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/context.h"
#include "core/link/frame.h"

namespace bms::sim {

double ByteTimeUs(int baud) { return 10.0e6 / static_cast<double>(baud > 0 ? baud : 19200); }

int64_t WireOffsetUs(size_t i, double spacing_us) { return static_cast<int64_t>(std::llround(static_cast<double>(i) * spacing_us)); }

std::string HexBytes(const uint8_t* bytes, size_t n) {
  std::string s;
  s.reserve(n * 3);
  char b[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", bytes[i]);
    s += b;
  }
  return s;
}

void WireLog::record(int64_t t_us, Direction dir, const uint8_t* bytes, size_t n, double spacing_us) {
  if (n == 0) return;
  WireEntry e{t_us, dir, std::vector<uint8_t>(bytes, bytes + n), spacing_us};
  std::lock_guard<std::mutex> lock(mu_);
  const auto pos = std::upper_bound(entries_.begin(), entries_.end(), t_us, [](int64_t t, const WireEntry& x) { return t < x.t_us; });
  entries_.insert(pos, std::move(e));
}

std::vector<WireEntry> WireLog::entries() const {
  std::lock_guard<std::mutex> lock(mu_);
  return entries_;
}

std::vector<WireEntry> WireLog::host_writes() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<WireEntry> out;
  for (const auto& e : entries_)
    if (e.dir == Direction::HostToPack) out.push_back(e);
  return out;
}

std::vector<WireEntry> WireLog::pack_bytes() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<WireEntry> out;
  for (const auto& e : entries_)
    if (e.dir == Direction::PackToHost) out.push_back(e);
  return out;
}

int64_t HostWaitMs(const HostMessage& a, const HostMessage& b) {
  const int64_t returned_ms = (a.end_us + 999) / 1000;
  return b.t_us / 1000 - returned_ms;
}

std::vector<HostMessage> WireLog::host_messages() const {
  const std::vector<uint8_t> shu = DefaultShuEnableConfig().request;
  std::vector<HostMessage> out;
  for (const WireEntry& e : host_writes()) {
    const auto& b = e.bytes;
    size_t i = 0;
    while (i < b.size()) {
      HostMessage m;
      m.t_us = e.t_us + WireOffsetUs(i, e.spacing_us);
      size_t n = 1;
      if (b[i] == kFrameStart && b.size() - i >= kFrameSize && b[i + 12] == kFrameEnd && FrameChecksum(&b[i]) == b[i + 11]) {
        n = kFrameSize;
        const uint8_t* d = &b[i + 3];
        std::copy(d, d + 8, m.data);
        if (b[i + 2] == kFrameRequest) {
          m.kind = HostMessage::Request;
          m.address = static_cast<uint16_t>(d[0] << 8 | d[1]);
          m.length = static_cast<uint16_t>(d[2] << 8 | d[3]);
          m.param = static_cast<uint32_t>(d[4] << 16 | d[5] << 8 | d[6]);
          m.write_count = d[7];
        } else if (b[i + 2] == kFramePayload) {
          m.kind = HostMessage::Payload;
        }
      } else if (b.size() - i >= 3 && b[i] == 0x26 && b[i + 1] == 0x0D && b[i + 2] == 0x0A) {
        n = 3;
        m.kind = HostMessage::StatusPoll;
      } else if (!shu.empty() && b.size() - i >= shu.size() && std::equal(shu.begin(), shu.end(), b.begin() + static_cast<std::ptrdiff_t>(i))) {
        n = shu.size();
        m.kind = HostMessage::ShuEnable;
      } else {
        // Anything else: one message per run of unrecognised bytes.
        while (i + n < b.size() && b[i + n] != kFrameStart && b[i + n] != 0x26 && (shu.empty() || b[i + n] != shu[0])) ++n;
      }
      m.bytes.assign(b.begin() + static_cast<std::ptrdiff_t>(i), b.begin() + static_cast<std::ptrdiff_t>(i + n));
      m.end_us = e.t_us + WireOffsetUs(i + n, e.spacing_us);
      out.push_back(std::move(m));
      i += n;
    }
  }
  return out;
}

std::vector<HostMessage> WireLog::host_requests() const {
  std::vector<HostMessage> out;
  for (auto& m : host_messages())
    if (m.kind == HostMessage::Request) out.push_back(std::move(m));
  return out;
}

size_t WireLog::size() const {
  std::lock_guard<std::mutex> lock(mu_);
  return entries_.size();
}

void WireLog::clear() {
  std::lock_guard<std::mutex> lock(mu_);
  entries_.clear();
}

std::string WireLog::dump() const {
  std::string out;
  char head[64];
  for (const WireEntry& e : entries()) {
    std::snprintf(head, sizeof head, "%10.3f ms  %s  ", static_cast<double>(e.t_us) / 1000.0, e.dir == Direction::HostToPack ? "host>pack" : "pack>host");
    out += head;
    out += HexBytes(e.bytes.data(), e.bytes.size());
    out += '\n';
  }
  return out;
}

}  // namespace bms::sim
