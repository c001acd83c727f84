#include "standard_output.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <exception>
#include <new>

namespace console {
namespace {

constexpr std::size_t kBufferBytes = 8192;
char g_buffer[kBufferBytes];
std::size_t g_used = 0;
bool g_failed = false;
std::string* g_capture = nullptr;

void WriteOut(const char* data, std::size_t size) {
  if (g_capture != nullptr) {
    g_capture->append(data, size);
    return;
  }
  while (size > 0 && !g_failed) {
    const ssize_t n = ::write(STDOUT_FILENO, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      g_failed = true;
      return;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

void Put(char c) {
  if (g_used == kBufferBytes) Flush();
  g_buffer[g_used++] = c;
}

}  // namespace

void Start() {
  std::signal(SIGPIPE, SIG_IGN);
  std::set_new_handler([] { AbnormalTermination(); });
  std::set_terminate([] { AbnormalTermination(); });  // a report too long for its string
}

void Write(std::string_view bytes) {
  if (g_failed) return;
  for (const char c : bytes) {
    if (c == '\n') Put('\r');
    Put(c);
  }
}

void Flush() {
  if (!g_failed && g_used > 0) WriteOut(g_buffer, g_used);
  g_used = 0;
}

void PrintString(const char* text) { Write(std::string_view(text)); }

void AbnormalTermination() {
  static constexpr char kMessage[] = "\r\nabnormal program termination\r\n";
  [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
  ::_exit(3);
}

void CaptureForTesting(std::string* capture) {
  Flush();
  g_capture = capture;
  g_failed = false;
  g_used = 0;
}

}  // namespace console
