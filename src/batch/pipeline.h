// The engine of a run: N threads (the calling one among them) each take the next few
// documents, make their records, and pass on the records that are ready in input order.
// Whatever N, the output is the same bytes. No thread hands work to another, so a run
// costs no context switch per document, and nothing slow happens under the lock the
// threads share: system calls (the input's, the output's) are made outside it.
//
// Exhausted memory ends a run, never the process: std::bad_alloc from a worker, from the
// input or from the gathering of lines is caught at the thread's edge, no thread takes
// another item, and the lines of the items before the first one not made are passed on,
// in order. A thread that cannot be started leaves the run with fewer threads.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "input.h"

namespace batch {

// Turns one item into its output line. One per thread, used by that thread only.
class Worker {
 public:
  virtual ~Worker() = default;
  virtual void Process(const Item& item, std::string& line) = 0;
};
using WorkerFactory = std::function<std::unique_ptr<Worker>()>;

// Where the lines go.
class LineSink {
 public:
  virtual ~LineSink() = default;
  // Passes on `lines`: `count` whole lines, the next ones in input order. Called by one
  // thread at a time, with no lock held, so the other threads go on meanwhile.
  virtual void Write(std::string_view lines, std::uint64_t count) = 0;
};

// A thread takes up to kBatchItems items at once, and hands their lines back at once:
// two lock round trips per batch, not per document.
inline constexpr std::size_t kBatchItems = 8;

// Lines made but not yet passed on are bounded twice over: a thread takes no document
// more than kSlotsPerWorker per thread (at least kMinSlots) past the oldest one not yet
// done, so a slow document holds up the others only that far; and none while the lines
// held (done, waiting to be passed on, or being passed on) hold kHeldLineBytes or more.
inline constexpr std::size_t kSlotsPerWorker = 2 * kBatchItems;
inline constexpr std::size_t kMinSlots = 4 * kBatchItems;
inline constexpr std::size_t kHeldLineBytes = 1u << 20;

// Lines ready in order are passed on in writes of about this size, or sooner when the
// run is about to wait (for input, or for a slow document) or ends.
inline constexpr std::size_t kWriteBytes = 64u << 10;

// How a run ended.
enum class RunEnd : std::uint8_t {
  kDone,             // every item's line was passed on
  kMemoryExhausted,  // memory ran out: the lines before the first item not made were passed on
};

class Pipeline {
 public:
  // `workers` (at least 1) threads take items from `source` and write to `sink`.
  Pipeline(unsigned workers, ItemSource& source, LineSink& sink);

  // Runs the calling thread and up to workers - 1 started here (as many as the system
  // lets start; the calling thread alone if none), each with its own Worker from
  // `makeWorker`; writes every item's line to `sink` in the order `source` gave them.
  // While one thread waits for input, the others go on making and writing records.
  // Returns when all are written, or when memory ran out and the lines made before the
  // first item not made are written.
  RunEnd Run(const WorkerFactory& makeWorker);

 private:
  struct Slot {
    std::string line;
    bool done = false;
  };
  // The items a thread has in hand, numbered from `first`, and their lines.
  struct Batch {
    std::uint64_t first = 0;
    std::size_t count = 0;
    std::vector<Item> items = std::vector<Item>(kBatchItems);
    std::vector<std::string> lines = std::vector<std::string>(kBatchItems);
  };
  using Lock = std::unique_lock<std::mutex>;

  void Work(const WorkerFactory& makeWorker);
  // Memory ran out: no item is taken any more, and the run ends once the items in hand
  // are done.
  void Exhausted(Lock& lock);
  // Fills `batch` with the next items (fetching input, unlocked, when it is needed and
  // nothing is in hand; waiting while the bounds forbid taking). False at the end.
  bool Take(Lock& lock, Batch& batch);
  // Puts the batch's lines in their slots, and the lines done in order after the last
  // one passed on in `ready_`. A line that `ready_` has no memory for stays in its slot,
  // and Run passes it on by itself at the end.
  void Deposit(Lock& lock, Batch& batch);
  // Passes on what is ready, outside the lock, when no other thread is doing so: all of
  // it when `all`, or when the run waits; otherwise once there is kWriteBytes of it.
  void WriteReady(Lock& lock, bool all);
  bool MayTake() const;
  Slot& At(std::uint64_t seq) { return ring_[static_cast<std::size_t>(seq % ring_.size())]; }

  const unsigned workers_;
  ItemSource& source_;
  LineSink& sink_;
  std::mutex mutex_;  // guards everything below and the source's Take
  std::condition_variable room_;
  std::vector<Slot> ring_;
  // Sequence numbers: items [passed, taken) are being made, or wait in their slots.
  std::uint64_t taken_ = 0;
  std::uint64_t passed_ = 0;
  std::string ready_;  // lines done in order, not yet passed on
  std::uint64_t readyLines_ = 0;
  std::string writing_;    // the lines being passed on, by one thread, unlocked
  bool writer_ = false;    // a thread passes lines on
  bool fetching_ = false;  // a thread fetches input, unlocked: no one else takes meanwhile
  bool inputEnded_ = false;
  bool exhausted_ = false;     // memory ran out (inputEnded_ is set too)
  std::size_t heldBytes_ = 0;  // in done slots, in ready_ and in writing_
  unsigned waiting_ = 0;
};

// Pipeline(workers, source, sink).Run(makeWorker).
RunEnd RunPipeline(unsigned workers, ItemSource& source, const WorkerFactory& makeWorker, LineSink& sink);

}  // namespace batch
