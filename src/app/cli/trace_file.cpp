#include "app/cli/trace_file.h"

#include <chrono>
#include <iostream>
#include <ostream>

#include "app/cli/cli_common.h"

namespace cli {

TraceFile::TraceFile(bms::Context& ctx) : trace_(ctx.FrameTaps) {}

TraceFile::~TraceFile() { Stop(); }

bool TraceFile::Start(const std::string& path, std::string* why) {
  if (!trace_.start(path, why)) return false;
  writer_ = std::thread([this] {
    std::unique_lock<std::mutex> lock(mu_);
    while (!stop_) {
      cv_.wait_for(lock, std::chrono::milliseconds(50));
      lock.unlock();
      Pump();
      lock.lock();
    }
  });
  return true;
}

void TraceFile::Pump() {
  trace_.pump();
  // Said the moment it happens, as a failed log row is.
  if (trace_.failed() && !said_failure_) {
    said_failure_ = true;
    std::cerr << ("bmsmon-cli: trace write failed: " + Term(trace_.error()) + "\n") << std::flush;
  }
}

void TraceFile::Stop() {
  if (writer_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stop_ = true;
    }
    cv_.notify_all();
    writer_.join();
  }
  trace_.finish();
  Pump();
}

bool TraceFile::Report(std::ostream& err) const {
  if (trace_.path().empty()) return false;
  err << "bmsmon-cli: trace " << Term(trace_.path()) << ": " << trace_.frames_written() << " frames written";
  if (trace_.frames_skipped() > 0) err << ", " << trace_.frames_skipped() << " skipped (the queue was full)";
  if (trace_.failed()) err << ", writing failed: " << Term(trace_.error());
  err << "\n";
  return trace_.failed();
}

nlohmann::json TraceFile::Json() const {
  nlohmann::json j = {
      {"file", JsonText(trace_.path())}, {"frames_written", trace_.frames_written()}, {"frames_skipped", trace_.frames_skipped()}, {"trace_failed", trace_.failed()}};
  if (trace_.failed()) j["trace_error"] = JsonText(trace_.error());
  return j;
}

}  // namespace cli
