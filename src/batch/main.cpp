// docoutline-batch: the outline of every document of a collection, one JSON line per
// document, in input order, with the reason for every document that gives none.
//
//   docoutline-batch [-0] [-j N] [--progress|--no-progress] [--fail-on=WORDS] [PATH|-]...
//
// See kUsage (options.cpp) and docs/docoutline-batch.1.

#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#if defined(__linux__)
#include <sched.h>
#endif

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "input.h"
#include "json.h"
#include "options.h"
#include "output.h"
#include "pipeline.h"
#include "read_record.h"

namespace {

[[maybe_unused]] constexpr int kOwnMappingBytes = 16 << 10;

// How many records had each status, over the whole run.
struct StatusCounts {
  std::mutex mutex;
  std::array<std::uint64_t, std::size(batch::kStatusWords)> counts = {};

  // "docoutline-batch: 1143 records: 917 ok, 120 no-outline, ...\n", statuses in their
  // fixed order, those that no record had left out; then "; 1 folder with no documents"
  // when a folder given as an argument held none.
  std::string Line(std::size_t emptyFolders) {
    std::uint64_t total = 0;
    std::string text;
    for (std::size_t i = 0; i < counts.size(); ++i) {
      total += counts[i];
      if (counts[i] == 0) continue;
      text += (text.empty() ? ": " : ", ") + std::to_string(counts[i]) + " " + std::string(batch::kStatusWords[i]);
    }
    if (emptyFolders != 0) {
      text += "; " + std::to_string(emptyFolders) + (emptyFolders == 1 ? " folder" : " folders") + " with no documents";
    }
    return "docoutline-batch: " + std::to_string(total) + (total == 1 ? " record" : " records") + text + "\n";
  }
};

class RecordWorker final : public batch::Worker {
 public:
  explicit RecordWorker(StatusCounts& totals) : totals_(totals) {}
  ~RecordWorker() override {
    const std::lock_guard lock(totals_.mutex);
    for (std::size_t i = 0; i < counts_.size(); ++i) totals_.counts[i] += counts_[i];
  }

  void Process(const batch::Item& item, std::string& line) override {
    ++counts_[static_cast<std::size_t>(maker_.Make(item, line).status)];
  }

 private:
  StatusCounts& totals_;
  std::array<std::uint64_t, std::size(batch::kStatusWords)> counts_ = {};
  batch::RecordMaker maker_;
};

// The cores this process may run on: on Linux its affinity mask, which a container or
// `taskset` narrows; elsewhere the machine's.
unsigned Cores() {
  unsigned cores = std::thread::hardware_concurrency();
#if defined(__linux__)
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
    cores = static_cast<unsigned>(CPU_COUNT(&set));
  }
#endif
  return std::clamp(cores, 1u, batch::kMaxJobs);
}

int UsageError(const std::string& reason) {
  std::fprintf(stderr, "docoutline-batch: %s\nTry 'docoutline-batch --help' for more information.\n", reason.c_str());
  return batch::kExitUsage;
}

constexpr std::string_view kMemoryExhausted = "docoutline-batch: memory exhausted";

int Run(int argc, char** argv) {
  // Buffers of 16 KiB and more get mappings of their own and go back to the system when
  // freed: the rare large record or summary stream, and each thread's converter buffers.
  // Left in the heaps that many threads share, they would fragment them, and with dozens
  // of threads a long run's resident size would creep up. A worker keeps its buffers
  // from one document to the next, so an ordinary document maps nothing.
#if defined(__GLIBC__)
  mallopt(M_MMAP_THRESHOLD, kOwnMappingBytes);
#endif
  batch::Options options;
  std::string error;
  if (!batch::ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) return UsageError(error);
  if (options.help) {
    std::fputs(batch::kUsage, stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (options.version) {
    std::fputs("docoutline-batch " DOCOUTLINE_VERSION "\n", stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (options.paths.empty()) {
    options.paths.emplace_back("-");
    // Someone who typed the command alone would otherwise see nothing happen.
    if (isatty(STDIN_FILENO) == 1) {
      std::fputs(options.nulSeparated
                     ? "docoutline-batch: reading paths from standard input (NUL-separated; Ctrl-D ends)\n"
                     : "docoutline-batch: reading paths from standard input (one per line; Ctrl-D ends)\n",
                 stderr);
    }
  }
  // A closed pipe shows as EPIPE from write, which ends the run quietly (see Output).
  std::signal(SIGPIPE, SIG_IGN);

  const bool progress = options.progress == batch::Options::Progress::kOn ||
                        (options.progress == batch::Options::Progress::kAuto && isatty(STDERR_FILENO) == 1);
  batch::PathSource paths(std::move(options.paths), STDIN_FILENO, options.nulSeparated ? '\0' : '\n');
  if (progress) paths.CountList();
  batch::Output output(STDOUT_FILENO, progress, &paths.Progress());
  StatusCounts totals;
  batch::RunEnd end = batch::RunPipeline(
      options.jobs != 0 ? options.jobs : Cores(), paths, [&totals] { return std::make_unique<RecordWorker>(totals); },
      output);
  // A folder with no document in it is no document, so it has no record: said here.
  for (const std::string& folder : paths.EmptyFolders()) output.Note({"docoutline-batch: ", folder, ": no documents"});
  std::string closing;
  try {
    closing = totals.Line(paths.EmptyFolders().size());
  } catch (const std::bad_alloc&) {
    end = batch::RunEnd::kMemoryExhausted;
  }
  output.Finish(closing);
  if (paths.ListError() != 0) {
    // The records of the paths read whole are out; the run ends here.
    output.Note({"docoutline-batch: cannot read standard input: ", std::strerror(paths.ListError())});
    return batch::kExitFailed;
  }
  if (end == batch::RunEnd::kMemoryExhausted) {
    output.Note({kMemoryExhausted});
    return batch::kExitMemoryExhausted;
  }
  for (std::size_t i = 0; i < totals.counts.size(); ++i) {
    if (options.failOn[i] && totals.counts[i] != 0) return batch::kExitFailOn;
  }
  return batch::kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    // Before the run (the run itself ends as RunEnd says): no record is held.
    (void)!::write(STDERR_FILENO, kMemoryExhausted.data(), kMemoryExhausted.size());
    (void)!::write(STDERR_FILENO, "\n", 1);
    return batch::kExitMemoryExhausted;
  }
}
