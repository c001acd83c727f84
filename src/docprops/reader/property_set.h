// A reader of property-set streams: finds a section by its format identifier and
// decodes property values into PROPVARIANT records.
//
// Guarantees: reads stay inside the stream and, for values, inside their section; a
// count is checked against the bytes that remain before anything is allocated for it;
// a value that does not decode leaves its record VT_EMPTY and costs the other
// properties nothing.
#pragma once

#include <cstdint>
#include <span>

#include "docprops/prop_variant.h"

namespace docprops::propset {

enum class Fault : std::uint8_t {
  kNone,
  kTooShort,        // no room for the stream header
  kBadByteOrder,    // the byte-order mark is not 0xFFFE
  kSectionMissing,  // no section with that format identifier
  kNotPresent,      // the section has no such property (or no readable table)
  kMalformed,       // the value runs past its section, miscounts, or has a type not allowed
  kOverBudget,      // the values read together would decode more bytes than the section holds
};

inline constexpr std::uint16_t kCodePageUnicode = 1200;

struct Section {
  std::span<const std::uint8_t> bytes;  // from the section's start to its end
  std::uint32_t propertyCount = 0;      // entries of the (id, offset) table that can be read
  std::uint16_t codePage = 0;           // property 1 when it is a VT_I2, read unsigned
};

// Locates the first section with the given format identifier. The result refers to
// the stream's bytes.
Fault FindSection(std::span<const std::uint8_t> stream, const FMTID& fmtid, Section& section);

// Decodes property `id` into `out`, which must hold nothing (VT_EMPTY). On any fault
// `out` stays VT_EMPTY.
Fault ReadProperty(const Section& section, PROPID id, PROPVARIANT& out);

// The same for one of several properties read together: `budget` starts at the
// section's size and shrinks by the bytes each value occupies. A value that no longer
// fits reads as absent (kOverBudget), so properties that share stored bytes cannot
// multiply the memory a read takes; properties stored apart never run out.
Fault ReadProperty(const Section& section, PROPID id, PROPVARIANT& out, std::uint64_t& budget);

}  // namespace docprops::propset
