// Opening a path for its record: what the batch front end does around the outline
// library's one call.
#pragma once

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

}  // namespace batch
