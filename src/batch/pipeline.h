// The engine of a run: N threads (the calling one among them) each take the next
// document, make its record, and write the records that are ready in input order.
// Whatever N, the output is the same bytes. No thread hands work to another, so a run
// costs no context switch per document.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "input.h"

namespace batch {

// Turns one item into its output line. One per thread, used by that thread only.
class Worker {
 public:
  virtual ~Worker() = default;
  virtual void Process(const Item& item, std::string& line) = 0;
};
using WorkerFactory = std::function<std::unique_ptr<Worker>()>;

// Where the lines go. Called by one thread at a time, in order.
class LineSink {
 public:
  virtual ~LineSink() = default;
  virtual void Write(std::string_view line) = 0;
  // The run is about to wait (for the input, or for a slow document): a chance to pass
  // on what is buffered.
  virtual void Idle() = 0;
};

// Lines made but not yet written are bounded twice over: a thread takes no document
// more than kSlotsPerWorker per thread (at least kMinSlots) past the oldest one not yet
// written, so a slow document holds up the others only that far; and none while the
// lines waiting hold more than kHeldLineBytes, unless it is the oldest.
inline constexpr std::size_t kSlotsPerWorker = 4;
inline constexpr std::size_t kMinSlots = 16;
inline constexpr std::size_t kHeldLineBytes = 1u << 20;

// Runs `workers` (at least 1) threads, the calling one and workers - 1 started here, each
// with its own Worker from `makeWorker`; writes every item's line to `sink` in the order
// `source` gave them. While one thread waits for input, the others go on making and
// writing records. Returns when all are written.
void RunPipeline(unsigned workers, ItemSource& source, const WorkerFactory& makeWorker, LineSink& sink);

}  // namespace batch
