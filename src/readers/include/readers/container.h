// Which container a document is, told by its first bytes alone, never by its name.
#pragma once

#include <cstdint>

#include "readers/byte_source.h"
#include "readers/fault.h"

namespace readers {

enum class Container : std::uint8_t {
  kUnknown,       // neither signature
  kCompoundFile,  // D0 CF 11 E0 A1 B1 1A E1
  kZip,           // a local file header, "PK\3\4", at offset 0
};

// Reads the first bytes of `source` and says which container they begin. A source too
// short for a signature (also one that shrank below it after it was opened) is
// kUnknown; only a failed system call is a fault (kIo, at kHeader: the first bytes are
// the header of either container).
Fault IdentifyContainer(ByteSource& source, Container& container);

}  // namespace readers
