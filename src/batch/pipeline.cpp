#include "batch/pipeline.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace batch {
namespace {

// A line buffer grown past this by one large record is given back rather than kept.
constexpr std::size_t kKeptLineCapacity = 1u << 20;

void Release(std::string& line) {
  if (line.capacity() > kKeptLineCapacity) std::string().swap(line);
}

}  // namespace

void RunPipeline(unsigned workers, const Producer& produce, const WorkerFactory& makeWorker, LineSink& sink) {
  workers = std::max(workers, 1u);
  const std::size_t slotCount = std::max(kMinSlots, kSlotsPerWorker * workers);
  struct Slot {
    Item item;
    std::string line;
    bool done = false;
  };
  std::vector<Slot> ring(slotCount);
  std::mutex mutex;
  std::condition_variable space;  // the producer waits for a free slot
  std::condition_variable work;   // workers wait for an item (or the end)
  std::condition_variable ready;  // the writer waits for the next line
  // Sequence numbers: items [written, claimed) are being made, [claimed, produced) wait.
  std::uint64_t produced = 0, claimed = 0, written = 0;
  std::size_t heldBytes = 0;  // lines done and not yet written
  bool inputDone = false;
  const auto at = [&](std::uint64_t seq) -> Slot& { return ring[static_cast<std::size_t>(seq % slotCount)]; };

  std::thread producer([&] {
    produce([&](Item&& item) {
      std::unique_lock lock(mutex);
      space.wait(lock, [&] { return produced - written < slotCount; });
      at(produced).item = std::move(item);
      ++produced;
      lock.unlock();
      work.notify_one();
      return true;
    });
    {
      const std::lock_guard lock(mutex);
      inputDone = true;
    }
    work.notify_all();
    ready.notify_one();
  });

  std::vector<std::thread> pool;
  for (unsigned i = 0; i < workers; ++i) {
    pool.emplace_back([&] {
      const std::unique_ptr<Worker> worker = makeWorker();
      std::string line;
      for (;;) {
        std::unique_lock lock(mutex);
        work.wait(lock, [&] {
          return (claimed < produced && (heldBytes < kHeldLineBytes || claimed == written)) ||
                 (inputDone && claimed == produced);
        });
        if (claimed == produced) return;  // the input is done and every item taken
        const std::uint64_t seq = claimed++;
        Slot& slot = at(seq);
        lock.unlock();
        // The slot is this worker's until it is marked done: the producer refills it only
        // after the writer has written it.
        line.clear();
        worker->Process(slot.item, line);
        lock.lock();
        slot.line.swap(line);
        slot.done = true;
        heldBytes += slot.line.size();
        const bool next = seq == written;
        lock.unlock();
        Release(line);
        if (next) ready.notify_one();
      }
    });
  }

  std::string line;
  for (;;) {
    std::unique_lock lock(mutex);
    Slot& slot = at(written);
    if (!slot.done) {
      if (inputDone && written == produced) break;
      lock.unlock();
      sink.Idle();
      lock.lock();
      ready.wait(lock, [&] { return slot.done || (inputDone && written == produced); });
      if (!slot.done) break;
    }
    line.swap(slot.line);
    slot.done = false;
    const bool overBudget = heldBytes >= kHeldLineBytes;
    heldBytes -= line.size();
    ++written;
    lock.unlock();
    space.notify_one();
    if (overBudget) work.notify_all();
    sink.Write(line);
    Release(line);
  }
  producer.join();
  for (std::thread& t : pool) t.join();
}

}  // namespace batch
