#pragma once
// The trace file: the lines of the frame inspector written to a file, one
// write per line, while the link runs. The file is created exclusively (a
// name that is taken, also by a link, is refused). The first line that
// cannot be written ends the trace: the file keeps every whole line before
// it, and failed()/error() say what happened.
#include <cstdint>
#include <memory>
#include <string>

#include "core/link/frame_describe.h"
#include "core/link/frame_tap.h"
#include "core/platform/files.h"

namespace bms {

class FrameTrace {
 public:
  static constexpr size_t kDefaultQueue = 8192;

  explicit FrameTrace(FrameTapPoint& tap, size_t queue_capacity = kDefaultQueue);
  ~FrameTrace();  // detaches; call finish() first to write what waits
  FrameTrace(const FrameTrace&) = delete;
  FrameTrace& operator=(const FrameTrace&) = delete;

  // Creates the file and starts listening. False with *why when the file
  // could not be created; nothing is tapped then.
  bool start(const std::string& path, std::string* why = nullptr);
  // Writes every frame waiting in the queue. Called from one thread.
  void pump();
  // Stops listening, writes what is left and the count of frames the queue
  // had to drop at the end, closes the file.
  void finish();

  const std::string& path() const { return path_; }
  bool failed() const { return failed_; }
  const std::string& error() const { return error_; }
  uint64_t frames_written() const { return frames_written_; }
  uint64_t frames_skipped() const;  // dropped by the full queue
  uint64_t frames_not_written() const { return frames_not_written_; }

 private:
  bool write(const std::string& line);

  FrameTapPoint& tap_;
  std::shared_ptr<FrameQueue> queue_;
  FrameDescriber describer_;
  RowFile file_;
  std::string path_;
  bool attached_ = false;
  bool failed_ = false;
  std::string error_;
  uint64_t frames_written_ = 0;
  uint64_t frames_not_written_ = 0;
};

}  // namespace bms
