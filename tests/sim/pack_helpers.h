#pragma once
// Small helpers for driving a VirtualPack directly in tests.
#include <cstdint>
#include <vector>

#include "core/link/frame.h"
#include "sim/virtual_pack.h"
#include "sim/wire_log.h"

namespace bms::sim::testing {

inline constexpr int kBaud = 19200;

inline std::vector<uint8_t> Request(uint16_t address, uint16_t length, uint32_t param = 0, uint8_t write_count = 0) {
  const uint8_t p[3] = {static_cast<uint8_t>(param >> 16), static_cast<uint8_t>(param >> 8), static_cast<uint8_t>(param)};
  const LinkFrame f = BuildRequestFrame(address, length, p, write_count);
  return {f.begin(), f.end()};
}

inline std::vector<uint8_t> Payload(std::vector<uint8_t> data) {
  data.resize(8, 0);
  const LinkFrame f = BuildPayloadFrame(data.data());
  return {f.begin(), f.end()};
}

inline std::vector<uint8_t> StatusPoll() { return {0x26, 0x0D, 0x0A}; }

// Sends bytes at t_us and returns the answer's bytes, bursts joined.
inline std::vector<uint8_t> Send(VirtualPack& pack, const std::vector<uint8_t>& bytes, int64_t t_us = 0) {
  std::vector<uint8_t> out;
  for (const Burst& b : pack.receive(bytes.data(), bytes.size(), t_us, kBaud)) out.insert(out.end(), b.bytes.begin(), b.bytes.end());
  return out;
}

// A register write: request, then the payload frame 50 ms later.
inline std::vector<uint8_t> Write(VirtualPack& pack, uint16_t address, uint16_t length, std::vector<uint8_t> data, uint8_t count = 8, int64_t t_us = 0) {
  const auto first = Send(pack, Request(address, length, 0, count), t_us);
  auto second = Send(pack, Payload(std::move(data)), t_us + 50000);
  if (!first.empty()) second.insert(second.begin(), first.begin(), first.end());
  return second;
}

// The 8 data bytes of a 26-byte read reply (empty when the shape is wrong).
inline std::vector<uint8_t> ReadData(VirtualPack& pack, uint16_t address, uint16_t length, uint32_t param = 0, int64_t t_us = 0) {
  const auto r = Send(pack, Request(address, length, param), t_us);
  if (r.size() != 26) return {};
  return {r.begin() + 16, r.begin() + 24};
}

inline std::vector<uint8_t> Bytes(std::initializer_list<int> v) {
  std::vector<uint8_t> b;
  for (int x : v) b.push_back(static_cast<uint8_t>(x));
  return b;
}

}  // namespace bms::sim::testing
