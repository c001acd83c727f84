// The command line of docoutline-batch.
#pragma once

#include <string>
#include <vector>

namespace batch {

// Each thread costs about a fifth of a MiB (its stack, its allocator caches, the document
// it reads and the records waiting for it). At 32 threads a whole run stays well within
// 16 MiB, however many documents it has; more threads than that would add memory and, a
// document costing microseconds, no speed. Beyond one machine's cores, run several
// processes (GNU parallel).
inline constexpr unsigned kMaxJobs = 32;

struct Options {
  unsigned jobs = 0;          // 0: one per core
  bool nulSeparated = false;  // -0: paths on standard input end in NUL, not newline
  enum class Progress { kAuto, kOn, kOff } progress = Progress::kAuto;
  bool help = false;
  bool version = false;
  std::vector<std::string> paths;  // in order; "-" is standard input
};

// Parses the arguments after the program's name. False on a usage error, with a
// one-line reason in `error`.
bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error);

// The help text of --help.
extern const char* const kUsage;

}  // namespace batch
