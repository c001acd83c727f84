// Standard output for the records, and the progress line on standard error.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "pipeline.h"

namespace batch {

// Buffers lines and writes them to `fd` in large writes, passing them on whenever the
// run waits for the next record. When the output cannot be written the process ends at
// once with status 1: quietly when the reader has gone (a closed pipe: EPIPE, so SIGPIPE
// must be ignored), with one message on standard error otherwise. Nothing else could be
// done with the records still to come, and a thread blocked reading the input could not
// be stopped otherwise.
class Output final : public LineSink {
 public:
  Output(int fd, bool progress);
  void Write(std::string_view line) override;
  void Idle() override { Flush(); }
  // Writes what is left and ends the progress line.
  void Finish();

 private:
  void Flush();
  void Send(std::string_view bytes);  // writes all of it, or ends the process
  void ShowProgress(bool last);

  int fd_;
  bool progress_;
  std::string buffer_;
  std::uint64_t lines_ = 0;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point shown_;
};

}  // namespace batch
