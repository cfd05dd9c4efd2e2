#include "sim/pack_hands.h"

namespace bms::sim {

namespace {
bool Has(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }
}  // namespace

PackHands::PackHands(VirtualPack& pack, OperatorInteraction* inner) : pack_(pack), inner_(inner), load_(pack) {}

PromptAnswer PackHands::AskInner(const Prompt& prompt) {
  if (inner_) return inner_->Ask(prompt);
  return prompt.buttons == PromptButtons::Ok ? PromptAnswer::Ok : PromptAnswer::No;
}

PromptAnswer PackHands::Ask(const Prompt& prompt) {
  const std::string& t = prompt.text;
  if (Has(t, "Wake up?")) {
    // The operator wakes the pack (key, charger) before answering.
    pack_.wake();
    return AskInner(prompt);
  }
  if (Has(t, "Cell Voltage Balance Start Test")) {
    load_.set(LoadState::Discharge);
    return AskInner(prompt);
  }
  if (Has(t, "Over Current Flag Closed start Test")) {
    Clock& clock = pack_.clock();
    const int64_t start = clock.now_ms();
    load_.set(LoadState::OverCurrent);
    const PromptAnswer a = AskInner(prompt);
    const int64_t held = clock.now_ms() - start;
    if (held < hold_ms) clock.sleep_ms(hold_ms - held);
    load_.set(LoadState::Off);
    return a;
  }
  return AskInner(prompt);
}

std::string PackHands::ChooseOpenFile(const std::string& title, const std::string& filter) { return inner_ ? inner_->ChooseOpenFile(title, filter) : std::string(); }

}  // namespace bms::sim
