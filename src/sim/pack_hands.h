#pragma once
// The hand on the bench behind the production test's prompts, for the
// virtual pack: it wakes a sleeping pack when asked whether the pack woke
// up, switches the discharge load on at the balance prompt and applies an
// over-current during the over-current prompt (held at least hold_ms, then
// removed). The answer itself comes from the wrapped operator (the GUI's
// message box, the CLI's answers, a test's script).
#include <cstdint>

#include "core/platform/clock.h"
#include "core/ui/operator.h"
#include "sim/virtual_load.h"
#include "sim/virtual_pack.h"

namespace bms::sim {

class PackHands : public OperatorInteraction {
 public:
  PackHands(VirtualPack& pack, OperatorInteraction* inner);
  PromptAnswer Ask(const Prompt& prompt) override;
  std::string ChooseOpenFile(const std::string& title, const std::string& filter) override;

  void set_inner(OperatorInteraction* inner) { inner_ = inner; }
  VirtualLoad& load() { return load_; }
  // Least time the over-current is held while its prompt is open.
  int64_t hold_ms = 1500;

 private:
  PromptAnswer AskInner(const Prompt& prompt);
  VirtualPack& pack_;
  OperatorInteraction* inner_;
  VirtualLoad load_;
};

}  // namespace bms::sim
