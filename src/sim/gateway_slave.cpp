#include "sim/gateway_slave.h"

#include <algorithm>
#include <cstdlib>

#include "core/link/gateway.h"
#include "sim/wire_log.h"

namespace bms::sim {

namespace {

// A partial frame older than this is dropped when new bytes come.
constexpr int64_t kStaleInputUs = 200000;
constexpr uint8_t kReadCode = 0x07;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

}  // namespace

bool ParseGatewayFault(std::string_view text, GatewayFault& out, std::string& error) {
  text = Trim(text);
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) {
    error = "a gateway fault is REG:ACTION, e.g. 0x10:bad-crc";
    return false;
  }
  const std::string reg(Trim(text.substr(0, colon)));
  const std::string_view action = Trim(text.substr(colon + 1));
  char* end = nullptr;
  const long r = std::strtol(reg.c_str(), &end, 0);
  if (reg.empty() || *end != '\0' || r < 0 || r > 0x7F) {
    error = "the register of a gateway fault is 0 to 0x7F, not '" + reg + "'";
    return false;
  }
  GatewayFault f;
  f.reg = static_cast<uint8_t>(r);
  if (action == "silence")
    f.action = GatewayFaultAction::Silence;
  else if (action == "bad-crc")
    f.action = GatewayFaultAction::BadCrc;
  else if (action == "wrong-echo")
    f.action = GatewayFaultAction::WrongEcho;
  else if (action == "short")
    f.action = GatewayFaultAction::Short;
  else if (action == "form=4")
    f.action = GatewayFaultAction::Form04;
  else if (action == "form=8")
    f.action = GatewayFaultAction::Form08;
  else {
    error = "unknown gateway fault action '" + std::string(action) + "' (silence, bad-crc, wrong-echo, short, form=4, form=8)";
    return false;
  }
  out = f;
  return true;
}

int GatewaySlave::requests(uint8_t reg) const {
  const auto it = per_register_.find(reg);
  return it == per_register_.end() ? 0 : it->second;
}

void GatewaySlave::reset_counters() {
  requests_ = 0;
  per_register_.clear();
}

std::vector<GatewayBurst> GatewaySlave::receive(const uint8_t* data, size_t n, int64_t t_us, double spacing_us, int64_t latency_us,
                                                const std::array<uint8_t, kOz890ImageSize>& image, const std::vector<GatewayFault>& faults) {
  std::vector<GatewayBurst> out;
  if (!rx_.empty() && t_us - last_rx_us_ > kStaleInputUs) rx_.clear();
  for (size_t i = 0; i < n; ++i) {
    const int64_t end_us = t_us + WireOffsetUs(i + 1, spacing_us);
    rx_.push_back(data[i]);
    last_rx_us_ = end_us;
    for (;;) {
      // Hunt for the 55 AA start, then wait for a whole frame.
      while (!rx_.empty() && rx_[0] != kGatewayHeader0) rx_.erase(rx_.begin());
      if (rx_.size() >= 2 && rx_[1] != kGatewayHeader1) {
        rx_.erase(rx_.begin());
        continue;
      }
      if (rx_.size() < kGatewayFrameSize) break;
      answer_front(end_us, latency_us, image, faults, out);
    }
  }
  return out;
}

void GatewaySlave::answer_front(int64_t end_us, int64_t latency_us, const std::array<uint8_t, kOz890ImageSize>& image, const std::vector<GatewayFault>& faults,
                                std::vector<GatewayBurst>& out) {
  {
    GatewayFrame f{};
    std::copy_n(rx_.begin(), kGatewayFrameSize, f.begin());
    rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(kGatewayFrameSize));
    if (f[18] != kGatewayTrailer || f[17] != GatewayCrc8(&f[2], 15)) return;
    const uint8_t reg = f[7];
    ++requests_;
    ++per_register_[reg];
    if (f[2] != 0x02 || f[3] != kReadCode || f[6] != kOz890Address || reg >= kOz890ImageSize) return;

    GatewayFrame r{};
    r[0] = kGatewayHeader0;
    r[1] = kGatewayHeader1;
    r[2] = 0x02;
    r[3] = 0x02;
    r[6] = f[6];
    r[7] = reg;
    r[8] = image[reg];
    bool silent = false, bad_crc = false, shortened = false;
    for (const GatewayFault& g : faults) {
      if (g.reg != reg) continue;
      switch (g.action) {
        case GatewayFaultAction::Silence:
          silent = true;
          break;
        case GatewayFaultAction::BadCrc:
          bad_crc = true;
          break;
        case GatewayFaultAction::WrongEcho:
          r[7] = static_cast<uint8_t>(reg ^ 0x01);
          break;
        case GatewayFaultAction::Short:
          shortened = true;
          break;
        case GatewayFaultAction::Form04:
          // Form 0x04 carries a 16-bit value in bytes 8-9; the reader takes byte 7.
          r[3] = 0x04;
          r[9] = 0x00;
          break;
        case GatewayFaultAction::Form08:
          r[3] = 0x08;
          break;
      }
    }
    if (silent) return;
    r[17] = GatewayCrc8(&r[2], 15);
    if (bad_crc) r[17] ^= 0xFF;
    r[18] = kGatewayTrailer;
    GatewayBurst b;
    b.at_us = end_us + latency_us;
    b.bytes.assign(r.begin(), r.end());
    if (shortened) b.bytes.resize(kGatewayFrameSize - 4);
    out.push_back(std::move(b));
  }
}

}  // namespace bms::sim
