#include "core/link/frame_trace.h"

#include <vector>

namespace bms {

FrameTrace::FrameTrace(FrameTapPoint& tap, size_t queue_capacity) : tap_(tap), queue_(std::make_shared<FrameQueue>(queue_capacity)) {}

FrameTrace::~FrameTrace() {
  if (attached_) tap_.detach(queue_);
}

bool FrameTrace::start(const std::string& path, std::string* why) {
  path_ = path;
  std::string reason;
  if (!file_.Create(path, &reason)) {
    failed_ = true;
    error_ = reason;
    if (why) *why = reason;
    return false;
  }
  tap_.attach(queue_);
  attached_ = true;
  return true;
}

bool FrameTrace::write(const std::string& line) {
  if (failed_) return false;
  std::string why;
  if (file_.WriteRow(line + "\n", &why)) return true;
  failed_ = true;
  error_ = why;
  return false;
}

void FrameTrace::pump() {
  std::vector<TappedFrame> frames;
  queue_->take(frames);
  for (const TappedFrame& f : frames) {
    const FrameRow row = describer_.row(f);
    if (row.skipped_before > 0) write(SkippedLine(row.skipped_before));
    if (write(FrameLine(row)))
      ++frames_written_;
    else
      ++frames_not_written_;
  }
}

void FrameTrace::finish() {
  if (attached_) {
    tap_.detach(queue_);
    attached_ = false;
  }
  if (!file_.is_open()) return;
  pump();
  if (const uint64_t tail = queue_->dropped_pending()) write(SkippedLine(tail));
  file_.Close();
}

uint64_t FrameTrace::frames_skipped() const { return queue_->dropped(); }

}  // namespace bms
