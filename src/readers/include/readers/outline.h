// How the elements of the heading pairs read, for every front end and container alike:
// element 2k is the heading of group k + 1, element 2k + 1 the number of its parts; a
// missing last count counts 0.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "readers/values.h"

namespace readers {

// The number of parts a count element gives, signed: the integer types up to 32 bits,
// unsigned ones reinterpreted as signed 32-bit; 0 for any other type.
std::int32_t GroupCount(const PROPVARIANT& countElement);

// The count of group k (from 0) of the heading pairs' elements; 0 when it is missing.
std::int32_t GroupCountAt(std::span<const PROPVARIANT> pairs, std::uint64_t group);

// Appends the heading of group k (from 0) to `out`: a narrow string's bytes as stored,
// a wide string as UTF-8, nothing for any other element or a missing one. True when the
// text came from a wide string, and so is UTF-8 whatever the document's code page.
bool AppendHeadingText(std::span<const PROPVARIANT> pairs, std::uint64_t group, std::string& out);

}  // namespace readers
