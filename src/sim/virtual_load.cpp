#include "sim/virtual_load.h"

#include <algorithm>

namespace bms::sim {

namespace {
constexpr uint8_t kOverCurrentBit = 0x04;
}

VirtualLoad::VirtualLoad(VirtualPack& pack) : pack_(pack) {
  pack_.set_live_model([this](Scenario& s, int64_t t_ms) { apply(s, t_ms); });
}

VirtualLoad::~VirtualLoad() { pack_.set_live_model({}); }

void VirtualLoad::set(LoadState state) {
  const int64_t now = pack_.clock().now_ms();
  std::lock_guard<std::mutex> lock(mu_);
  if (state == state_) return;
  if (state_ == LoadState::OverCurrent && oc_open_) oc_close_at_ms_ = now + kOverCurrentReleaseMs;
  state_ = state;
  since_ms_ = now;
  engaged_ = true;
}

LoadState VirtualLoad::state() const {
  std::lock_guard<std::mutex> lock(mu_);
  return state_;
}

void VirtualLoad::apply(Scenario& s, int64_t t_ms) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!engaged_) return;
  if (!rest_taken_) {
    rest_taken_ = true;
    rest_current_ = s.pack_current_ma;
    rest_cells_ = s.cells_mv;
    rest_t1_ = s.t1;
    rest_t2_ = s.t2;
    rest_flags_ = s.protection_flags;
  }
  const int64_t on_ms = t_ms - since_ms_;
  s.cells_mv = rest_cells_;
  s.t1 = rest_t1_;
  s.t2 = rest_t2_;
  switch (state_) {
    case LoadState::Off:
      s.pack_current_ma = rest_current_;
      break;
    case LoadState::Discharge: {
      s.pack_current_ma = kDischargeLoadMa;
      for (size_t i = 0; i < kMaxCells; ++i)
        if (s.cells_mv[i] > 100) s.cells_mv[i] = static_cast<uint16_t>(s.cells_mv[i] - 40 - (i % 3 == 1 ? 8 : 0));
      const int rise = static_cast<int>(std::min<int64_t>(on_ms / 60000, 3));
      s.t1 = static_cast<int8_t>(rest_t1_ + rise);
      s.t2 = static_cast<int8_t>(rest_t2_ + rise);
      break;
    }
    case LoadState::OverCurrent:
      s.pack_current_ma = kOverCurrentLoadMa;
      if (on_ms >= kOverCurrentTripMs) {
        oc_open_ = true;
        oc_close_at_ms_ = -1;
      }
      break;
  }
  if (oc_open_ && state_ != LoadState::OverCurrent && oc_close_at_ms_ >= 0 && t_ms >= oc_close_at_ms_) {
    oc_open_ = false;
    oc_close_at_ms_ = -1;
  }
  s.protection_flags = static_cast<uint8_t>(oc_open_ ? (rest_flags_ | kOverCurrentBit) : (rest_flags_ & ~kOverCurrentBit));
  s.discharging = s.pack_current_ma < 0;
}

}  // namespace bms::sim
