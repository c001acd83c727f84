// The adapter from the readers to records: the only code of the batch front end that
// touches them.
#pragma once

#include "record.h"

namespace batch {

// Reads the document at `path` into `record` (cleared first): its status, the detail of
// a damaged or io-error one, its code page, and its heading pairs and parts where read.
// Costs what a run of docoutline on the same document costs, and never blocks on a FIFO.
void ReadRecord(const char* path, Record& record);

// ReadRecord's type, so that tests can put records of their own in its place.
using RecordReader = void (*)(const char* path, Record& record);

}  // namespace batch
