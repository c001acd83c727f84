#include "output.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace batch {
namespace {

constexpr auto kProgressInterval = std::chrono::milliseconds(250);

// Writes all of `bytes`; false with errno set when a write fails.
bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

Output::Output(int fd, bool progress)
    : fd_(fd), progress_(progress), start_(std::chrono::steady_clock::now()), shown_(start_) {}

void Output::Write(std::string_view lines, std::uint64_t count) {
  Send(lines);
  lines_ += count;
  if (progress_) ShowProgress(false);  // at most every kProgressInterval
}

void Output::Send(std::string_view bytes) {
  if (WriteAll(fd_, bytes)) return;
  const int error = errno;
  if (error != EPIPE) Note({"docoutline-batch: cannot write standard output: ", std::strerror(error)});
  std::_Exit(1);
}

void Output::ShowProgress(bool last) {
  const auto now = std::chrono::steady_clock::now();
  if (!last && now - shown_ < kProgressInterval) return;
  shown_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const double rate = seconds > 0 ? static_cast<double>(lines_) / seconds : 0.0;
  char text[128];
  const int n = std::snprintf(text, sizeof text, "\r%llu documents, %.0f/s, %.1f s%s",
                              static_cast<unsigned long long>(lines_), rate, seconds, last ? "\n" : "");
  if (n > 0)
    (void)WriteAll(STDERR_FILENO, std::string_view(text, std::min(sizeof text - 1, static_cast<std::size_t>(n))));
  lineShown_ = !last;
}

void Output::Note(std::initializer_list<std::string_view> parts) {
  if (lineShown_) (void)WriteAll(STDERR_FILENO, "\n");
  lineShown_ = false;
  for (const std::string_view part : parts) (void)WriteAll(STDERR_FILENO, part);
  (void)WriteAll(STDERR_FILENO, "\n");
}

void Output::Finish(std::string_view closing) {
  if (!progress_) return;
  ShowProgress(true);
  (void)WriteAll(STDERR_FILENO, closing);
}

}  // namespace batch
