// One document's record, as the outline library makes it (outline/record.h):
// the batch front end's names for it. Records are made by ReadRecord (read_record.h)
// and written out as JSON by FormatRecord (json.h).
#pragma once

#include "outline/record.h"

namespace batch {

using outline::kStatusWords;
using outline::Status;
using outline::StatusWord;
using Record = outline::Record;

}  // namespace batch
