// A reader of property-set streams: finds a section by its format identifier and
// decodes property values into PROPVARIANT records.
//
// Guarantees: reads stay inside the stream and, for values, inside their section; a
// count is checked against the bytes that remain before anything is allocated for it;
// a value that does not decode leaves its record VT_EMPTY, says why, and costs the
// other properties nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "readers/fault.h"
#include "readers/values.h"

namespace readers::propset {

inline constexpr std::uint16_t kCodePageUnicode = 1200;

struct Section {
  std::span<const std::uint8_t> bytes;    // from the section's start to its end, or to the stream's
  std::uint32_t propertyCount = 0;        // entries of its (id, offset) table
  std::optional<std::uint16_t> codePage;  // property 1 when it is a VT_I2, read unsigned
};

// Locates the first section with the given format identifier; its header and property
// table must lie inside it. The result refers to the stream's bytes.
Fault FindSection(std::span<const std::uint8_t> stream, const FMTID& fmtid, Section& section);

// Decodes property ids[i] into values[i], which must hold nothing (VT_EMPTY), and says
// in faults[i] why it did not (kNotPresent, or why the value does not decode). The
// properties read as each would alone: ids whose table entries give the same offset
// share one decoded value (and its block). Free the values with FreePropVariantArray.
void ReadProperties(const Section& section, std::span<const PROPID> ids, std::span<PROPVARIANT> values,
                    std::span<Fault> faults);

// One property alone.
Fault ReadProperty(const Section& section, PROPID id, PROPVARIANT& out);

}  // namespace readers::propset
