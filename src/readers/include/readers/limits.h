// Every cap the readers apply, in one place, each with the reason for its value.
// A cap only ever turns an input into a failure of the step that met it (kOverLimit,
// or kStreamTooLarge); none of them is reached by a document a real office
// application writes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace readers::limits {

// A property-set stream is read whole into memory, so one larger than this (by its
// declared size) is refused. The property-set format asks readers to accept at least
// 262,144 bytes and, for the widest interoperability, 2,097,152. Real summary streams
// are a few kilobytes; a workbook with about 40,000 named parts needs most of this.
inline constexpr std::uint64_t kMaxPropertyStreamBytes = 2'097'152;

// Values read together decode into at most this many bytes per byte of their section.
// One value never needs more than six bytes per stored byte (an empty variant of four
// stored bytes becomes a 24-byte record), so values stored apart never reach it, and
// values sharing one offset are decoded once. Only a crafted section whose values
// overlap at different offsets can: the read then stays within the stream's size
// times seven (the stream itself, and this), whatever the table says.
inline constexpr std::uint64_t kDecodedBytesPerSectionByte = 6;

// Metadata (header, allocation-table, mini-table and directory entries, mini sectors)
// is read in blocks of this size through a small cache. A block is a page: reading one
// from the page cache costs about what reading 512 bytes does, and it holds eight
// 512-byte sectors, which in a small document are often the header's neighbours, the
// table and the directory together, so one read serves what took several. It is a
// whole sector of either size, and sectors start on its multiples of 512, so a
// directory entry, a mini sector or a table entry never straddles two blocks.
inline constexpr std::size_t kBlockBytes = 4096;

// Blocks kept by that cache: enough for the table sectors of the few chains walked at
// once (directory, mini table, mini stream, one stream) without re-reading them.
inline constexpr std::size_t kCachedBlocks = 8;

// Directory entries one lookup may visit. A root storage with a million children is
// far beyond any real document; the walk's visited set grows with the entries read,
// and every entry visited must actually be present in the file.
inline constexpr std::uint32_t kMaxDirectoryVisits = 1u << 20;

// A package part (the relationships or the extended properties) whose declared or
// inflated size is larger than this is refused (kStreamTooLarge), and inflating stops
// there whatever the directory declares: a zip bomb costs no more. Real parts are a few
// kilobytes.
inline constexpr std::uint64_t kMaxPartBytes = 16u << 20;

// The end of a zip read first: most packages need no other read for their end record
// and central directory, and small ones none at all.
inline constexpr std::size_t kZipTailBytes = 16u << 10;

// The window through which a central directory that lies outside that tail is walked:
// room for one entry's fixed fields, name and extra field at their largest, so memory
// stays the same whatever the directory's size.
inline constexpr std::size_t kZipWindowBytes = 46 + 65535 + 65535;

// Bytes read from a part at a time, and handed to the XML parser at a time.
inline constexpr std::size_t kPartChunkBytes = 16u << 10;

// Deflated bytes read for one part: what a part of kMaxPartBytes takes in the plainest
// coding a writer may choose (every byte a literal of 9 bits: 9/8 of it), with room for
// block headers. Only a stream padded out (empty stored blocks, which inflate to
// nothing) needs more, and it is refused as too large instead of being read to its end.
inline constexpr std::uint64_t kMaxPartInputBytes = kMaxPartBytes / 8 * 9 + (64u << 10);

// Elements an XML part may nest. Real relationship and extended-properties parts nest
// four or five deep; the parser's memory grows with the depth.
inline constexpr std::size_t kMaxXmlDepth = 256;

// Elements the two vectors of a package's outline may hold together. A workbook with
// tens of thousands of sheets and names is far below it; a crafted part of tiny
// elements reaches it long before its records cost the batch much memory.
inline constexpr std::size_t kMaxOutlineElements = 1u << 20;

// Bytes of a part the XML parser may be handed without reporting anything: the longest
// single token (a tag with its attributes, a comment, a processing instruction) it is
// let to hold. The parser scans an unfinished token again from its start each time more
// bytes come, so a token of megabytes would cost seconds; at this bound a part of
// kMaxPartBytes costs tens of milliseconds whatever its tokens. Real tags are under a
// kilobyte; text is reported as it comes, so a long name or heading never nears it.
inline constexpr std::size_t kMaxXmlTokenBytes = 64u << 10;

// Memory the XML parser of one part may hold. Real parts need a few tens of kilobytes;
// only a crafted part (megabytes of one name or attribute, or of namespace bindings)
// comes near, and then fails instead of taking the batch's memory.
inline constexpr std::size_t kMaxXmlParserBytes = 8u << 20;

}  // namespace readers::limits
