#include "pipeline.h"

#include <algorithm>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace batch {
namespace {

// A line buffer grown past this by a large record is given back rather than kept: each
// of the ring's slots would otherwise come to hold the largest line it ever carried, and
// a long run with many threads would grow by that much per slot.
constexpr std::size_t kKeptLineCapacity = 4u << 10;

void Release(std::string& line) {
  if (line.capacity() > kKeptLineCapacity) std::string().swap(line);
}

}  // namespace

Pipeline::Pipeline(unsigned workers, ItemSource& source, LineSink& sink)
    : workers_(std::max(workers, 1u)),
      source_(source),
      sink_(sink),
      ring_(std::max(kMinSlots, kSlotsPerWorker * workers_)) {}

RunEnd Pipeline::Run(const WorkerFactory& makeWorker) {
  std::vector<std::thread> threads;
  try {
    threads.reserve(workers_ - 1);
    for (unsigned i = 1; i < workers_; ++i) threads.emplace_back([&] { Work(makeWorker); });
  } catch (const std::system_error&) {
    // The system would start no more threads (its limit on threads, or on memory for
    // their stacks): the run goes on with those that started.
  } catch (const std::bad_alloc&) {
  }
  Work(makeWorker);
  for (std::thread& t : threads) t.join();
  // A thread that ended while another wrote may have left lines behind.
  Lock lock(mutex_);
  WriteReady(lock, true);
  // Lines that no memory could be found to gather: passed on one by one, in order, up to
  // the first item not made. Only this thread is left, so the lock is held throughout.
  for (Slot* head = &At(passed_); head->done; head = &At(passed_)) {
    sink_.Write(head->line, 1);
    heldBytes_ -= head->line.size();
    head->line.clear();
    head->done = false;
    ++passed_;
  }
  return exhausted_ ? RunEnd::kMemoryExhausted : RunEnd::kDone;
}

void Pipeline::Work(const WorkerFactory& makeWorker) {
  std::unique_ptr<Worker> worker;
  std::optional<Batch> batch;
  try {
    worker = makeWorker();
    batch.emplace();
  } catch (const std::bad_alloc&) {
    Lock lock(mutex_);
    return Exhausted(lock);
  }
  Lock lock(mutex_);
  while (Take(lock, *batch)) {
    lock.unlock();
    std::size_t made = 0;
    bool exhausted = false;
    try {
      for (; made < batch->count; ++made) {
        batch->lines[made].clear();
        worker->Process(batch->items[made], batch->lines[made]);
      }
    } catch (const std::bad_alloc&) {
      exhausted = true;  // the worker is not used again: what it was making is dropped
    }
    // A deep document's folder is held open by its item only until the item is done.
    for (std::size_t i = 0; i < batch->count; ++i) batch->items[i].folder.reset();
    lock.lock();
    if (exhausted) Exhausted(lock);
    batch->count = made;  // the lines made before the failure are kept
    Deposit(lock, *batch);
  }
  WriteReady(lock, true);
}

void Pipeline::Exhausted(Lock&) {
  exhausted_ = true;
  inputEnded_ = true;
  if (waiting_ != 0) room_.notify_all();
}

bool Pipeline::MayTake() const { return !fetching_ && taken_ - passed_ < ring_.size() && heldBytes_ < kHeldLineBytes; }

bool Pipeline::Take(Lock& lock, Batch& batch) {
  batch.count = 0;
  while (batch.count < kBatchItems && !inputEnded_) {
    if (!MayTake()) {
      if (batch.count > 0) break;  // the items in hand first
      WriteReady(lock, true);      // what is made goes out before the run waits
      if (inputEnded_ || MayTake()) continue;
      ++waiting_;
      room_.wait(lock, [this] { return inputEnded_ || MayTake(); });
      --waiting_;
      continue;
    }
    Next next = Next::kEnd;
    try {
      next = source_.Take(batch.items[batch.count]);
    } catch (const std::bad_alloc&) {
      Exhausted(lock);
      break;
    }
    if (next == Next::kEnd) {
      inputEnded_ = true;
      if (waiting_ != 0) room_.notify_all();
      break;
    }
    if (next == Next::kFetch) {
      if (batch.count > 0) break;  // the items in hand first; a later Take fetches
      // No one takes while the input is fetched, which may wait: what is made goes out
      // first, and the other threads go on making and writing records meanwhile.
      fetching_ = true;
      WriteReady(lock, true);
      lock.unlock();
      bool exhausted = false;
      try {
        source_.Fetch();
      } catch (const std::bad_alloc&) {
        exhausted = true;
      }
      lock.lock();
      fetching_ = false;
      if (exhausted) Exhausted(lock);
      if (waiting_ != 0) room_.notify_all();
      continue;
    }
    if (batch.count == 0) batch.first = taken_;
    ++taken_;
    ++batch.count;
  }
  return batch.count > 0;
}

void Pipeline::Deposit(Lock& lock, Batch& batch) {
  for (std::size_t i = 0; i < batch.count; ++i) {
    Slot& slot = At(batch.first + i);
    slot.line.swap(batch.lines[i]);
    slot.done = true;
    heldBytes_ += slot.line.size();
    Release(batch.lines[i]);
  }
  bool passed = false;
  for (Slot* head = &At(passed_); head->done; head = &At(passed_)) {
    if (ready_.empty() && head->line.size() >= kWriteBytes) {
      ready_.swap(head->line);  // a large record is not copied
    } else {
      try {
        ready_.append(head->line);
      } catch (const std::bad_alloc&) {
        Exhausted(lock);
        break;
      }
    }
    ++readyLines_;
    head->line.clear();
    Release(head->line);
    head->done = false;
    ++passed_;
    passed = true;
  }
  if (passed && waiting_ != 0) room_.notify_all();
  WriteReady(lock, false);
}

void Pipeline::WriteReady(Lock& lock, bool all) {
  while (!writer_ && readyLines_ != 0 &&
         (all || inputEnded_ || fetching_ || waiting_ != 0 || ready_.size() >= kWriteBytes)) {
    writer_ = true;
    writing_.swap(ready_);
    const std::uint64_t lines = std::exchange(readyLines_, 0);
    lock.unlock();
    sink_.Write(writing_, lines);
    lock.lock();
    heldBytes_ -= writing_.size();
    if (writing_.capacity() > 2 * kWriteBytes) {
      std::string().swap(writing_);
    } else {
      writing_.clear();
    }
    writer_ = false;
    if (waiting_ != 0) room_.notify_all();
  }
}

RunEnd RunPipeline(unsigned workers, ItemSource& source, const WorkerFactory& makeWorker, LineSink& sink) {
  return Pipeline(workers, source, sink).Run(makeWorker);
}

}  // namespace batch
