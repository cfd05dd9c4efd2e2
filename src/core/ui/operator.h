#pragma once
// Operator interaction as an interface: the message-box prompts and the file
// choices the logic needs. The Qt front end shows modal boxes owned by the
// main window (usable while that window is disabled); the CLI answers from
// its arguments or the terminal; tests answer from a script.
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace bms {

enum class PromptButtons { Ok, YesNo };
enum class PromptAnswer { Ok, Yes, No };

struct Prompt {
  std::string title;
  std::string text;
  PromptButtons buttons = PromptButtons::Ok;
};

class OperatorInteraction {
 public:
  virtual ~OperatorInteraction() = default;
  // Shows the prompt and waits for the answer. May be called from a worker
  // thread; the implementation marshals to its own UI thread.
  virtual PromptAnswer Ask(const Prompt& prompt) = 0;
  // Lets the operator pick a file to open; "" when cancelled. filter is a
  // description such as "INI files (*.ini)".
  virtual std::string ChooseOpenFile(const std::string& title, const std::string& filter) = 0;
};

// Answers from a script, in order, and records every prompt. When the
// script runs out, an OK prompt is answered Ok and a Yes/No prompt No.
class ScriptedOperator : public OperatorInteraction {
 public:
  explicit ScriptedOperator(std::vector<PromptAnswer> answers = {}, std::vector<std::string> files = {})
      : answers_(answers.begin(), answers.end()), files_(files.begin(), files.end()) {}

  PromptAnswer Ask(const Prompt& prompt) override {
    std::lock_guard<std::mutex> lock(mu_);
    asked_.push_back(prompt);
    if (answers_.empty()) return prompt.buttons == PromptButtons::Ok ? PromptAnswer::Ok : PromptAnswer::No;
    const PromptAnswer a = answers_.front();
    answers_.pop_front();
    return a;
  }
  std::string ChooseOpenFile(const std::string&, const std::string&) override {
    std::lock_guard<std::mutex> lock(mu_);
    if (files_.empty()) return "";
    std::string f = files_.front();
    files_.pop_front();
    return f;
  }
  std::vector<Prompt> asked() const {
    std::lock_guard<std::mutex> lock(mu_);
    return asked_;
  }

 private:
  mutable std::mutex mu_;
  std::deque<PromptAnswer> answers_;
  std::deque<std::string> files_;
  std::vector<Prompt> asked_;
};

}  // namespace bms
