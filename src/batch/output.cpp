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

Output::Output(int fd, bool progress, const InputProgress* input)
    : fd_(fd), progress_(progress), input_(input), start_(std::chrono::steady_clock::now()), shown_(start_) {}

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

// "1200 of 5000 documents, 35 folders, 5100/s, 2.1 s, 0.8 s left": the total and the
// time left once the input knows the total, the folders once a walk entered one.
void Output::ShowProgress(bool last) {
  const auto now = std::chrono::steady_clock::now();
  if (!last && now - shown_ < kProgressInterval) return;
  shown_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const double rate = seconds > 0 ? static_cast<double>(lines_) / seconds : 0.0;
  const std::uint64_t folders = input_ != nullptr ? input_->folders.load(std::memory_order_relaxed) : 0;
  const std::uint64_t total = input_ != nullptr ? input_->total.load(std::memory_order_relaxed) : 0;
  char of[32] = "";
  char inFolders[48] = "";
  char left[32] = "";
  if (total != 0) std::snprintf(of, sizeof of, " of %llu", static_cast<unsigned long long>(std::max(total, lines_)));
  if (folders != 0) {
    std::snprintf(inFolders, sizeof inFolders, ", %llu folder%s", static_cast<unsigned long long>(folders),
                  folders == 1 ? "" : "s");
  }
  if (total > lines_ && rate > 0) {
    std::snprintf(left, sizeof left, ", %.0f s left", static_cast<double>(total - lines_) / rate);
  }
  char text[192];
  const int wrote = std::snprintf(text, sizeof text, "\r%llu%s documents%s, %.0f/s, %.1f s%s",
                                  static_cast<unsigned long long>(lines_), of, inFolders, rate, seconds, left);
  if (wrote <= 0) return;
  std::size_t n = std::min(sizeof text - 2, static_cast<std::size_t>(wrote));
  const std::size_t size = n;
  while (n < lineSize_ && n < sizeof text - 2) text[n++] = ' ';  // blanks what a longer line left
  lineSize_ = size;
  if (last) text[n++] = '\n';
  (void)WriteAll(STDERR_FILENO, std::string_view(text, n));
  lineShown_ = !last;
}

void Output::Note(std::initializer_list<std::string_view> parts) {
  if (lineShown_) (void)WriteAll(STDERR_FILENO, "\n");
  lineShown_ = false;
  lineSize_ = 0;
  for (const std::string_view part : parts) (void)WriteAll(STDERR_FILENO, part);
  (void)WriteAll(STDERR_FILENO, "\n");
}

void Output::Finish(std::string_view closing) {
  if (!progress_) return;
  ShowProgress(true);
  (void)WriteAll(STDERR_FILENO, closing);
}

}  // namespace batch
