// Faults in test messages: "ok", or the reason as a person reads it.
#pragma once

#include <ostream>

#include "readers/fault.h"

namespace readers {

inline void PrintTo(const Fault& f, std::ostream* os) { *os << (f.ok() ? "ok" : Describe(f)); }

// A fault of damage, as a test expects it.
constexpr Fault Bad(Defect defect, Structure where) { return Fault{defect, where, 0}; }

}  // namespace readers
