// A property set read from a compound file: the stream that holds it, exactly as the
// file holds it, and the set's section found in it.
#pragma once

#include <cstdint>
#include <vector>

#include "readers/cfb/compound_file.h"
#include "readers/cfb/property_set.h"
#include "readers/fault.h"
#include "readers/values.h"

namespace readers::cfb {

struct SetStream {
  StreamBytes bytes;
  propset::Section section;  // refers into `bytes`, which a move keeps in place

  SetStream() = default;
  SetStream(SetStream&&) = default;
  SetStream& operator=(SetStream&&) = default;
  SetStream(const SetStream&) = delete;
  SetStream& operator=(const SetStream&) = delete;
};

// Reads the stream among the root's children that holds the set with this format
// identifier (the summary information, the document summary information, or the
// user-defined set that shares the latter's stream), at most
// limits::kMaxPropertyStreamBytes of it by its declared size, and finds the set's
// section in it. Values are then decoded only from bytes the file holds: a document
// cut inside its property set lists its values whole or not at all. `out` may hold an
// earlier set: its buffer is reused.
// `also`: names the lookup of the stream notes on its way (FindRootStream).
Fault ReadSetStream(CompoundFile& file, const FMTID& fmtid, SetStream& out, AlsoNoted* also = nullptr);

}  // namespace readers::cfb
