#include "pipeline.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace batch {
namespace {

// A line buffer grown past this by a large record is given back rather than kept: each
// of the ring's slots would otherwise come to hold the largest line it ever carried, and
// a long run with many threads would grow by that much per slot.
constexpr std::size_t kKeptLineCapacity = 4u << 10;
[[maybe_unused]] constexpr std::uint64_t kTrimEvery = 4096;

void Release(std::string& line) {
  if (line.capacity() > kKeptLineCapacity) std::string().swap(line);
}

}  // namespace

void RunPipeline(unsigned workers, ItemSource& source, const WorkerFactory& makeWorker, LineSink& sink) {
  workers = std::max(workers, 1u);
  const std::size_t slotCount = std::max(kMinSlots, kSlotsPerWorker * workers);
  struct Slot {
    std::string line;
    bool done = false;
  };
  std::vector<Slot> ring(slotCount);
  std::mutex mutex;  // guards everything below, the input and the sink
  std::condition_variable room;
  // Sequence numbers: items [written, taken) are being made or wait to be written.
  std::uint64_t taken = 0, written = 0;
  std::size_t heldBytes = 0;  // lines done and not yet written
  bool inputEnded = false;
  bool reading = false;  // a thread reads input, unlocked: no one else takes meanwhile
  unsigned waiting = 0;
  const auto at = [&](std::uint64_t seq) -> Slot& { return ring[static_cast<std::size_t>(seq % slotCount)]; };
  const auto mayTake = [&] {
    return inputEnded || (!reading && taken - written < slotCount && (heldBytes < kHeldLineBytes || taken == written));
  };

  const auto run = [&] {
    const std::unique_ptr<Worker> worker = makeWorker();
    Item item;
    std::string line;
    std::unique_lock lock(mutex);
    for (;;) {
      if (!mayTake()) {
        sink.Idle();
        ++waiting;
        room.wait(lock, mayTake);
        --waiting;
      }
      const Next next = inputEnded ? Next::kEnd : source.Take(item);
      if (next == Next::kEnd) {
        inputEnded = true;
        if (waiting != 0) room.notify_all();
        return;
      }
      if (next == Next::kRead) {
        // What is made so far goes out before the input may keep everyone waiting.
        reading = true;
        sink.Idle();
        lock.unlock();
        source.ReadInput();
        lock.lock();
        reading = false;
        if (waiting != 0) room.notify_all();
        continue;
      }
      const std::uint64_t seq = taken++;
      lock.unlock();
      line.clear();
      worker->Process(item, line);
      lock.lock();
      Slot& slot = at(seq);
      slot.line.swap(line);
      slot.done = true;
      heldBytes += slot.line.size();
      Release(line);
      // Whoever finishes the oldest line writes it and every finished one after it.
      bool wrote = false;
      for (Slot* head = &at(written); head->done; head = &at(written)) {
        sink.Write(head->line);
        heldBytes -= head->line.size();
        head->done = false;
        Release(head->line);
        ++written;
        wrote = true;
        // Memory that many threads freed stays in the allocator's per-thread arenas;
        // handing it back now and then keeps a long run's resident size level.
#if defined(__GLIBC__)
        if (written % kTrimEvery == 0) malloc_trim(0);
#endif
      }
      if (wrote && waiting != 0) room.notify_all();
    }
  };

  std::vector<std::thread> threads;
  for (unsigned i = 1; i < workers; ++i) threads.emplace_back(run);
  run();
  for (std::thread& t : threads) t.join();
}

}  // namespace batch
