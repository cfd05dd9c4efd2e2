#pragma once
// The last decoded pack values. Written by the decoders on the worker that
// owns the port, read by the polling loop, the data log and the front ends.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

namespace bms {

struct LiveData {
  uint8_t Rsoc = 0;
  uint16_t CycleCount = 0;
  uint32_t DesignCapacity = 0;
  uint64_t TotalChargeCapacity = 0;
  uint32_t FullChargeCapacity = 0;
  uint32_t RemainingCapacity = 0;
  uint8_t Asoc = 0;
  int32_t PackCurrent = 0;
  uint32_t PackVoltage = 0;
  std::string ModelName;
  uint8_t CellSeries = 0;
  uint8_t CellParallel = 0;
  uint8_t StatusBits = 0;
  uint8_t ProtectionFlags = 0;
  bool OverCurrentActive = false;
  bool OverCurrentSeen = false;
  int8_t T1 = 0;
  int8_t T2 = 0;
  int8_t T3 = 0;
  std::array<int32_t, 15> CellVoltage{};                  // index 1..14
  std::array<int32_t, 15> RawCellVoltage{};               // index 1..14
  std::array<std::array<uint16_t, 4>, 27> SocOcvTable{};  // pages 1..26
  uint32_t TotalDischargeCapacity = 0;
  int32_t ClockYear = 0, ClockMonth = 0, ClockDay = 0, ClockHour = 0, ClockMinute = 0, ClockSecond = 0;
  int32_t ClockDate = 0;
  int32_t ClockSeconds = 0;
};

// Highest and lowest of cells 1..n (n limited to 1..14) of a cell table.
struct CellSpread {
  int32_t high = 0, low = 0;
};
inline CellSpread SpreadOfCells(const std::array<int32_t, 15>& cells, int n) {
  n = std::clamp(n, 1, 14);
  CellSpread s{cells[1], cells[1]};
  for (size_t i = 2; i <= static_cast<size_t>(n); ++i) {
    s.high = std::max(s.high, cells[i]);
    s.low = std::min(s.low, cells[i]);
  }
  return s;
}

}  // namespace bms
