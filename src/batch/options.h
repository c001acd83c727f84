// The command line of docoutline-batch.
#pragma once

#include <string>
#include <vector>

namespace batch {

// Each thread holds the document it is reading, and the records waiting for it: up to a
// quarter of a MiB for the largest outlines. At 64 threads a whole run stays within
// 16 MiB; more would add memory and no speed, a document costing microseconds.
inline constexpr unsigned kMaxJobs = 64;

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
