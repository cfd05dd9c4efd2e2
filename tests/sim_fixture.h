#pragma once
// The virtual bench for operation tests: a virtual clock, the virtual pack,
// the wire log and a Context whose workers run inline, with the port name
// set to the virtual pack and the baud selector at 19200.
//
//   class ClockCommandTest : public SimFixture {};
//   TEST_F(ClockCommandTest, SetsThePackClock) {
//     RunSomeCommand(ctx);
//     EXPECT_EQ(pack.request_count(0x4006), 1);
//     ... wire.host_requests(), wire.dump() ...
//   }
//
// A fixture with another scenario passes it on:
//   class SilentPackTest : public SimFixture {
//    protected:
//     SilentPackTest() : SimFixture(Silent()) {}
//   };
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/context.h"
#include "sim/scenario.h"
#include "sim/sim_port.h"
#include "sim/virtual_pack.h"
#include "sim/wire_log.h"

namespace bms::sim {

// A write returns when its last byte has left: a 13-byte frame at 19200
// baud takes 6.77 ms, 7 ms on the virtual clock's millisecond.
inline constexpr int64_t kFrameWriteMs = 7;

// A PortFactory that opens a SimPort on `pack` for kVirtualPortName and
// nothing for any other name.
inline PortFactory SimPortFactory(VirtualPack& pack, WireLog* wire) {
  return [&pack, wire](const std::string& name) -> std::unique_ptr<SerialPort> {
    if (name != kVirtualPortName) return nullptr;
    return std::make_unique<SimPort>(pack, wire);
  };
}

struct SimBench {
  explicit SimBench(Scenario scenario = DefaultScenario()) : pack(clock, std::move(scenario)), ctx(clock, SimPortFactory(pack, &wire), /*inline_workers=*/true) {
    ctx.PortName.set(kVirtualPortName);
    ctx.FormConfig.ComboBoxBaudRate.set_item_index(1);  // 19200
  }

  VirtualClock clock;
  WireLog wire;
  VirtualPack pack;
  Context ctx;
};

class SimFixture : public ::testing::Test, public SimBench {
 protected:
  explicit SimFixture(Scenario scenario = DefaultScenario()) : SimBench(std::move(scenario)) {}
};

}  // namespace bms::sim

using bms::sim::SimBench;
using bms::sim::SimFixture;
