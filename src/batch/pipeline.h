// The engine of a run: one thread reads the input, N workers make the records, and the
// calling thread writes them out in input order. Whatever N, the output is the same bytes.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "batch/input.h"

namespace batch {

// Turns one item into its output line. One per worker thread, used by that thread only.
class Worker {
 public:
  virtual ~Worker() = default;
  virtual void Process(const Item& item, std::string& line) = 0;
};
using WorkerFactory = std::function<std::unique_ptr<Worker>()>;

// Where the lines go, from the calling thread only.
class LineSink {
 public:
  virtual ~LineSink() = default;
  virtual void Write(std::string_view line) = 0;
  // The next line is not ready yet: a chance to pass on what is buffered.
  virtual void Idle() = 0;
};

// Produces the items in order through `emit`, then returns.
using Producer = std::function<void(const Emit& emit)>;

// Lines made but not yet written are bounded twice over: at most this many per worker (so
// a slow document holds up the others only that far), and workers take no new item while
// the finished lines held exceed kHeldLineBytes, unless it is the one the output waits for.
inline constexpr std::size_t kSlotsPerWorker = 4;
inline constexpr std::size_t kMinSlots = 16;
inline constexpr std::size_t kHeldLineBytes = 4u << 20;

// Runs `produce` on a thread of its own and `workers` (at least 1) workers made by
// `makeWorker`, each on its own thread; writes every item's line to `sink` in the order
// produced. Returns when all are written.
void RunPipeline(unsigned workers, const Producer& produce, const WorkerFactory& makeWorker, LineSink& sink);

}  // namespace batch
