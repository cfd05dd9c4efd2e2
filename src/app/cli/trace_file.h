#pragma once
// `monitor --trace FILE`: every frame on the link written to FILE as the
// frame inspector lists it, by a writer thread of its own so the link never
// waits for the disk.
#include <condition_variable>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "core/context.h"
#include "core/link/frame_trace.h"

namespace cli {

class TraceFile {
 public:
  explicit TraceFile(bms::Context& ctx);
  ~TraceFile();
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  // Creates FILE and starts the writer; false with *why when it cannot.
  bool Start(const std::string& path, std::string* why);
  // Stops the writer after it wrote every frame tapped so far.
  void Stop();
  // The line for stderr ("trace FILE: N frames written ..."); true when
  // the trace failed. Json() gives the same as one object.
  bool Report(std::ostream& err) const;
  nlohmann::json Json() const;
  bool failed() const { return trace_.failed(); }
  const bms::FrameTrace& trace() const { return trace_; }

 private:
  void Pump();

  bms::FrameTrace trace_;
  bool said_failure_ = false;
  std::mutex mu_;
  std::condition_variable cv_;
  bool stop_ = false;
  std::thread writer_;
};

}  // namespace cli
