// How the elements of the heading pairs read, for every front end alike: element 2k is
// the heading of group k + 1, element 2k + 1 the number of its parts.
#pragma once

#include <cstdint>

#include "docprops/prop_variant.h"

namespace docprops {

// The number of parts a count element gives, signed: the integer types up to 32 bits,
// unsigned ones reinterpreted as signed 32-bit; 0 for any other type.
std::int32_t GroupCount(const PROPVARIANT& countElement);

}  // namespace docprops
