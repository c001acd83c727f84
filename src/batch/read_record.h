// The adapter from the readers to records: the only code of the batch front end that
// touches them.
#pragma once

#include <memory>

#include "record.h"

namespace batch {

// What a thread's reading keeps from one document to the next: the readers' caches and
// buffers, so that once a few documents have been read the next one allocates none of
// them. The readers' objects are held behind a pointer, so that this header needs none
// of their headers. One per thread.
class ReaderState {
 public:
  ReaderState();
  ~ReaderState();
  ReaderState(const ReaderState&) = delete;
  ReaderState& operator=(const ReaderState&) = delete;

  struct Held;  // read_record.cpp
  Held& held() { return *held_; }

 private:
  std::unique_ptr<Held> held_;
};

// Reads the document at `path` into `record` (cleared first): its status, the detail of
// a damaged or io-error one, its code page, and its heading pairs and parts where read.
// Costs what a run of docoutline on the same document costs, and never blocks on a FIFO.
// `lookFirst`: the path is not known to name a regular file (a path from a list), so it
// is looked at before it is opened, and only a regular file is opened.
void ReadRecord(const char* path, Record& record, ReaderState& state, bool lookFirst = false);

// The same, with a state of its own.
void ReadRecord(const char* path, Record& record);

}  // namespace batch
