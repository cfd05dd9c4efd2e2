#pragma once
// The virtual pack's load: what the hand on the bench switches when a prompt
// of the production test asks for it. Off, a discharge load, or an
// over-current. The model (docs/virtual-pack.md):
//   - discharge: current -5000 mA; every cell drops 40 mV, cells 2, 5, 8 ...
//     by 8 mV more (spread + 8 mV); T1 and T2 rise 1 °C per minute, at most 3 °C;
//   - over-current: current -30000 mA; the over-current flag opens 500 ms
//     after it starts and stays open while it lasts;
//   - off: the values of the pack at rest come back; an open over-current
//     flag closes 600 ms after the load went off.
#include <array>
#include <cstdint>
#include <mutex>

#include "sim/virtual_pack.h"

namespace bms::sim {

enum class LoadState { Off, Discharge, OverCurrent };

inline constexpr int32_t kDischargeLoadMa = -5000;
inline constexpr int32_t kOverCurrentLoadMa = -30000;
inline constexpr int64_t kOverCurrentTripMs = 500;
inline constexpr int64_t kOverCurrentReleaseMs = 600;

class VirtualLoad {
 public:
  // Installs the model on the pack (replacing any other live model).
  explicit VirtualLoad(VirtualPack& pack);
  ~VirtualLoad();
  VirtualLoad(const VirtualLoad&) = delete;
  VirtualLoad& operator=(const VirtualLoad&) = delete;

  void set(LoadState state);
  LoadState state() const;

 private:
  void apply(Scenario& s, int64_t t_ms);

  VirtualPack& pack_;
  mutable std::mutex mu_;
  LoadState state_ = LoadState::Off;
  int64_t since_ms_ = 0;
  bool engaged_ = false;  // a load was switched on at least once
  bool rest_taken_ = false;
  int32_t rest_current_ = 0;
  std::array<uint16_t, kMaxCells> rest_cells_{};
  int8_t rest_t1_ = 0, rest_t2_ = 0;
  uint8_t rest_flags_ = 0;
  bool oc_open_ = false;
  int64_t oc_close_at_ms_ = -1;
};

}  // namespace bms::sim
