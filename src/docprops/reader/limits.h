// Every cap the readers apply, in one place, each with the reason for its value.
// A cap only ever turns an input into a silent failure of the step that met it;
// none of them is reached by a document a real office application writes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace docprops::limits {

// A property-set stream is read whole into memory. Real summary streams are a few
// kilobytes; the largest seen (a workbook with thousands of named parts) is 67 KiB, so
// 512 KiB leaves room for far larger outlines. Everything decoded from the stream is
// bounded by it: the values read together decode at most the section's bytes once
// (see propset::ReadProperty), a vector costs at most a 24-byte record or a pointer per
// 4 stored bytes plus its strings, and the report lists each stored name at most three
// times. Together with the stream that stays under about 6 MiB for any input.
inline constexpr std::uint64_t kMaxPropertyStreamBytes = 512u << 10;

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
