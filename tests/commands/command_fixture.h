#pragma once
// The bench for command tests: the virtual pack and clock with the command
// handlers bound, the command buttons unlocked as after a confirmed port, the
// INI folder in a fresh temporary folder, and a recorder of control changes.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "core/commands/commands.h"
#include "core/link/link_port.h"
#include "platform/temp_folder.h"
#include "sim_fixture.h"

namespace bms::testing {

// Every control change, in order.
class UiRecorder : public UiEventSink {
 public:
  struct Change {
    std::string control;
    Prop prop;
    PropValue value;
  };
  void post(UiEvent ev) override {
    std::lock_guard<std::mutex> lock(mu_);
    changes_.push_back({ev.control->name(), ev.prop, std::move(ev.value)});
  }
  std::vector<Change> changes() const {
    std::lock_guard<std::mutex> lock(mu_);
    return changes_;
  }
  // Position of the first change of `control`'s `prop` to `value` at or
  // after `from`; -1 when there is none.
  int find(const std::string& control, Prop prop, const PropValue& value, int from = 0) const {
    const auto all = changes();
    for (size_t i = static_cast<size_t>(from); i < all.size(); ++i)
      if (all[i].control == control && all[i].prop == prop && all[i].value == value) return static_cast<int>(i);
    return -1;
  }
  // The texts a control showed, in order.
  std::vector<std::string> texts(const std::string& control) const {
    std::vector<std::string> out;
    for (const Change& c : changes())
      if (c.control == control && c.prop == Prop::Text) out.push_back(std::get<std::string>(c.value));
    return out;
  }

 private:
  mutable std::mutex mu_;
  std::vector<Change> changes_;
};

inline sim::Scenario SilentPack() {
  sim::Scenario s = sim::DefaultScenario();
  s.silent = true;
  return s;
}

using Bytes8 = std::array<uint8_t, 8>;

inline Bytes8 DataOf(const sim::HostMessage& m) {
  Bytes8 out{};
  for (size_t i = 0; i < 8; ++i) out[i] = m.data[i];
  return out;
}

class CommandFixture : public ::testing::Test, public sim::SimBench {
 protected:
  explicit CommandFixture(sim::Scenario scenario = sim::DefaultScenario()) : SimBench(std::move(scenario)) {
    ctx.app.current_dir = folder.path() + "/";
    WireCommandHandlers(ctx);
    SetCommandButtons(ctx, true);
    ctx.ui_sink = &ui;
  }
  ~CommandFixture() override { ctx.ui_sink = nullptr; }

  std::vector<sim::HostMessage> messages() const { return wire.host_messages(); }
  std::vector<sim::HostMessage> requests() const { return wire.host_requests(); }
  std::vector<sim::HostMessage> requests_to(uint16_t address) const {
    std::vector<sim::HostMessage> out;
    for (const auto& r : wire.host_requests())
      if (r.address == address) out.push_back(r);
    return out;
  }
  std::vector<Bytes8> payloads() const {
    std::vector<Bytes8> out;
    for (const auto& m : wire.host_messages())
      if (m.kind == sim::HostMessage::Payload) out.push_back(DataOf(m));
    return out;
  }
  // The host's wait between two of its messages: from the return of the
  // write of a (its last byte sent) to the start of b, in milliseconds.
  static int64_t gap_ms(const sim::HostMessage& a, const sim::HostMessage& b) { return sim::HostWaitMs(a, b); }

  TempFolder folder;
  UiRecorder ui;
};

}  // namespace bms::testing
