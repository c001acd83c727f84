// Standard output for the records, and the progress line on standard error.
#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "pipeline.h"

namespace batch {

// Writes the lines it is given to `fd`, as they come (the pipeline gathers them into
// large writes). When the output cannot be written the process ends at once with status
// 1: quietly when the reader has gone (a closed pipe: EPIPE, so SIGPIPE must be
// ignored), with one message on standard error otherwise. Nothing else could be done
// with the records still to come, and a thread blocked reading the input could not be
// stopped otherwise.
class Output final : public LineSink {
 public:
  // `input`, when given, adds folders, the total and the time left to the progress line.
  Output(int fd, bool progress, const InputProgress* input = nullptr);
  void Write(std::string_view lines, std::uint64_t count) override;
  // Ends the progress line, and, when progress is shown, writes `closing` (a whole line)
  // to standard error after it.
  void Finish(std::string_view closing);
  // Writes one line to standard error, made of `parts` and a newline, below the progress
  // line if one is shown. Allocates nothing, so that it can tell of exhausted memory.
  void Note(std::initializer_list<std::string_view> parts);

 private:
  void Send(std::string_view bytes);  // writes all of it, or ends the process
  void ShowProgress(bool last);

  int fd_;
  bool progress_;
  const InputProgress* input_;
  bool lineShown_ = false;    // a progress line is on standard error, without its newline
  std::size_t lineSize_ = 0;  // the length of the last one, to blank what a shorter one leaves
  std::uint64_t lines_ = 0;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point shown_;
};

}  // namespace batch
