// The command line of docoutline-batch.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "record.h"

namespace batch {

// Each thread costs about a third of a MiB (its stack, its allocator's heap, its reader's
// caches and buffers, its converters, the documents it holds and the records waiting for
// them). At 32 threads a whole run stays within 16 MiB (14 MiB measured), however many
// documents it has; more threads than that would add memory and, even reading from a
// disk, little speed. Beyond that, run several processes (GNU parallel).
inline constexpr unsigned kMaxJobs = 32;

// The exit statuses of a run. When several apply, the lowest but 0 wins: a run whose
// output or list failed says so first, then exhausted memory, then --fail-on.
enum ExitStatus : int {
  kExitOk = 0,               // every path got its record
  kExitFailed = 1,           // standard output could not be written, or the list could not be read
  kExitUsage = 2,            // a usage error
  kExitMemoryExhausted = 3,  // memory ran out: the records before the first one not made are out
  kExitFailOn = 4,           // every record is out, and one has a status --fail-on names
};

// A flag per status word, in the order of kStatusWords.
using StatusSet = std::array<bool, std::size(kStatusWords)>;

struct Options {
  unsigned jobs = 0;          // 0: one per core
  bool nulSeparated = false;  // -0: paths on standard input end in NUL, not newline
  enum class Progress { kAuto, kOn, kOff } progress = Progress::kAuto;
  StatusSet failOn = {};  // --fail-on: the statuses that make the run exit with kExitFailOn
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
