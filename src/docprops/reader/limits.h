// Every cap the readers apply, in one place, each with the reason for its value.
// A cap only ever turns an input into a silent failure of the step that met it;
// none of them is reached by a document a real office application writes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace docprops::limits {

// A property-set stream is read whole into memory. Real summary streams are a few
// kilobytes (the largest seen holds some thousands of part names in ~130 KiB). The cap
// bounds everything decoded from the stream: a vector holds at most one element per 4
// stored bytes, each costing a 24-byte record or a pointer and a small allocation, and
// the scan holds six values at once, which may all decode the same stored vector. A
// hostile 1 MiB stream so peaks near 60 MiB (a real one at a few MiB), and the report
// lists each stored name at most three times.
inline constexpr std::uint64_t kMaxPropertyStreamBytes = 1u << 20;

// Metadata (header, allocation-table, mini-table and directory entries, mini sectors)
// is read in blocks of this size through a small cache; 512 divides every sector size
// and holds whole directory entries, mini sectors and table entries.
inline constexpr std::size_t kBlockBytes = 512;

// Blocks kept by that cache: enough for the table sectors of the few chains walked at
// once (directory, mini table, mini stream, one stream) without re-reading them.
inline constexpr std::size_t kCachedBlocks = 32;

// Directory entries one lookup may visit. A root storage with a million children is
// far beyond any real document; the walk's visited set grows with the entries read,
// and every entry visited must actually be present in the file.
inline constexpr std::uint32_t kMaxDirectoryVisits = 1u << 20;

}  // namespace docprops::limits
