#pragma once
// The bench of the production test: the virtual pack with the hand behind
// the prompts, scripted answers, the plan and the report folder in a fresh
// temporary folder, the EVT edition's window caption.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "commands/command_fixture.h"
#include "core/production_test/production_test.h"
#include "sim/pack_hands.h"

namespace bms::testing {

class EvtFixture : public CommandFixture {
 protected:
  explicit EvtFixture(sim::Scenario scenario = sim::DefaultScenario()) : CommandFixture(std::move(scenario)) {
    ctx.app.exe_name = "TQ58_EVT_bmsmon";
    ctx.app.data_folder = folder.path() + "/";
    ctx.FormMain.self.set_text("TQ58_EVT_1.0.0");
    WireProductionTestHandlers(ctx);
    ctx.Operator = &hands;
    ctx.FormMain.EditEVTWorkNumber.set_text("W001");
    ctx.FormMain.EditEVTT1.set_text("25");
  }
  ~EvtFixture() override { ctx.Operator = nullptr; }

  // Writes the plan and selects it as the plan dialog would.
  std::string Plan(const std::string& text) {
    folder.write("plan.ini", text);
    const std::string path = folder / "plan.ini";
    ctx.FormMain.OpenDialog_PCM_INI.set_text(path);
    return path;
  }
  void Answers(std::vector<PromptAnswer> a) {
    script = std::make_unique<ScriptedOperator>(std::move(a));
    hands.set_inner(script.get());
  }
  // One TEST press with the barcode; the inline worker runs the whole test.
  bool Run(const std::string& barcode = "BC32-EXT-2026-000123") {
    ctx.FormMain.EditEVTBarcode.set_text(barcode);
    return SpdBtnEVTTestClick(ctx);
  }
  std::vector<std::string> Log() const { return ctx.Evt->lines(); }
  // The run log from the first line equal to `from` up to (without) the first
  // line equal to `to` after it.
  std::vector<std::string> Slice(const std::string& from, const std::string& to) const {
    const auto all = Log();
    std::vector<std::string> out;
    bool in = false;
    for (const auto& l : all) {
      if (!in && l == from) in = true;
      if (in && l == to && !out.empty()) break;
      if (in) out.push_back(l);
    }
    return out;
  }
  std::vector<std::string> Failures() const {
    const EvtTest t = ctx.EVT_TEST.get();
    std::vector<std::string> out;
    for (int k = 1; k <= t.FailCount && k < kFailureSlots; ++k) out.push_back(t.FailList[static_cast<size_t>(k)]);
    return out;
  }
  bool Contains(const std::string& line) const {
    for (const auto& l : Log())
      if (l == line) return true;
    return false;
  }

  std::unique_ptr<ScriptedOperator> script = std::make_unique<ScriptedOperator>();
  sim::PackHands hands{pack, script.get()};
};

// Limits that the default virtual pack meets: 13 cells around 3.9 V,
// 65 % / 96 %, 25 / 24 degrees, -1520 mA, model "LP13S4P-A", firmware 2.14.
inline const char* kPassingChecks =
    "[Check]\n"
    "ProjectName=LP13S4P-A\nFWVer=2.14\n"
    "SOCMax=100\nSOCMin=10\nSOHMax=100\nSOHMin=50\n"
    "T1=25\nT1Range=5\nT2Range=5\n"
    "CellVoltMax=4200\nCellVoltMin=3000\nCellBalance=100\nDynamicBalance=100\n"
    "PackVoltMax=60000\nPackVoltMin=30000\nPackCurrentMax=0\nPackCurrentMin=-3000\n"
    "DateTimeAccuracyRange=5\nDateTimeFirstToCheckRange=0\n"
    "BMSChgDsgCurrentMax=-1000\nBMSChgDsgCurrentMin=-8000\n"
    "LogRecordCnt=3\n"
    "T1T2TestDelay=1000\nT1_Rang_After_Dsg =3\nT2_Rang_After_Dsg =3\n";

}  // namespace bms::testing
