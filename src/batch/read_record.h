// Opening a path for its record: what the batch front end does around the outline
// library's one call.
#pragma once

#include <string>

#include "input.h"
#include "record.h"

namespace batch {

// Reads the document at `path` into `record` (cleared first): its size and mtime when
// the file was reached, then what ReadOutline gives. Opens only a regular file, read-only
// under a shared read lock, and never blocks on a FIFO. `lookFirst`: the path is not
// known to name a regular file (a path from a list), so it is looked at before it is
// opened, and only a regular file is opened. `state` is the calling thread's.
void ReadRecord(const char* path, Record& record, outline::ReaderState& state, bool lookFirst = false);

// The same for the document `name` in the open folder `folder` (a walk's, which keeps
// it open for the call): for a document whose whole path is too long to open.
void ReadRecordAt(int folder, const char* name, Record& record, outline::ReaderState& state);

// The same, with a state of its own.
void ReadRecord(const char* path, Record& record);

// Gives back the storage of a record that grew large, rather than keep it for every
// document after it; an ordinary one keeps its storage for the next.
void KeepSmall(Record& record);

// Turns a run's items into their JSON lines, as every front end that reads items does:
// one per thread, keeping its reader state and record from one item to the next.
class RecordMaker {
 public:
  // Appends the line of `item` (its known record, or the one read from its document,
  // by its whole path or by its name in the folder a walk holds open) to `line`, and
  // returns the record.
  const Record& Make(const Item& item, std::string& line);

 private:
  Record record_;
  outline::ReaderState state_;
};

}  // namespace batch
