// Test-only writer for compound files and property-set streams.
//
// Tests describe a document in code ("sector size 512, streams ..., heading pairs ...") and get the
// bytes, plus enough layout facts to corrupt any field on purpose. Nothing here is part of the product;
// it trades speed and generality for being easy to read and hard to get subtly wrong.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testdoc {

using Bytes = std::vector<std::uint8_t>;
using Fmtid = std::array<std::uint8_t, 16>;

// Format identifiers in their on-disk byte order (first three GUID fields little-endian).
// {D5CDD502-2E9C-101B-9397-08002B2CF9AE}
inline constexpr Fmtid kFmtidDocSummary = {0x02, 0xD5, 0xCD, 0xD5, 0x9C, 0x2E, 0x1B, 0x10,
                                           0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE};
// {D5CDD505-2E9C-101B-9397-08002B2CF9AE}
inline constexpr Fmtid kFmtidUserDefined = {0x05, 0xD5, 0xCD, 0xD5, 0x9C, 0x2E, 0x1B, 0x10,
                                            0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE};
// {F29F85E0-4FF9-1068-AB91-08002B27B3D9}
inline constexpr Fmtid kFmtidSummary = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                        0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};

// Property value types.
inline constexpr std::uint16_t kVtEmpty = 0;
inline constexpr std::uint16_t kVtI2 = 2;
inline constexpr std::uint16_t kVtI4 = 3;
inline constexpr std::uint16_t kVtVariant = 12;
inline constexpr std::uint16_t kVtUI4 = 19;
inline constexpr std::uint16_t kVtLpstr = 30;
inline constexpr std::uint16_t kVtLpwstr = 31;
inline constexpr std::uint16_t kVtFiletime = 64;
inline constexpr std::uint16_t kVtVector = 0x1000;

// Property ids the outline cares about.
inline constexpr std::uint32_t kPidCodepage = 1;
inline constexpr std::uint32_t kPidHeadingPairs = 12;
inline constexpr std::uint32_t kPidDocParts = 13;
inline constexpr std::uint32_t kPidCompany = 15;

// ---------------------------------------------------------------------------------------------
// Property values
// ---------------------------------------------------------------------------------------------

// How a narrow string (4-byte byte count incl. NUL, then the bytes) is laid out.
//   Unpadded:    the next element starts right after the counted bytes (what real writers do in vectors).
//   Padded:      zero bytes follow the counted bytes up to a multiple of 4 (not included in the count).
//   CountPadded: the count itself is rounded up to a multiple of 4; the extra bytes after the NUL are
//                inside the count and come from `fill` (then zeros).
enum class StrLayout { Unpadded, Padded, CountPadded };

// Every encoder below returns a whole typed value: 2-byte type, 2 zero bytes, then the data.
// Elements of a VT_VECTOR|VT_VARIANT are typed values too, so the Elem* encoders have the same shape.
Bytes I2(std::int16_t v);   // 2 data bytes padded to 4
Bytes I4(std::int32_t v);
Bytes UI4(std::uint32_t v);
Bytes Lpstr(std::string_view s, StrLayout layout = StrLayout::Unpadded, std::string_view fill = {});
Bytes Lpwstr(std::u16string_view s);  // char count incl. NUL, UTF-16LE, zero-padded to 4
// `count` overrides the element count written (the elements written stay the real ones), for hostile
// inputs such as a count of 0x7FFFFFFF in a tiny stream.
Bytes VectorLpstr(const std::vector<std::string>& items, StrLayout layout = StrLayout::Unpadded,
                  std::optional<std::uint32_t> count = std::nullopt, std::string_view fill = {});
Bytes VectorLpwstr(const std::vector<std::u16string>& items,
                   std::optional<std::uint32_t> count = std::nullopt);
Bytes VectorVariant(const std::vector<Bytes>& elements, std::optional<std::uint32_t> count = std::nullopt);
// Bytes used verbatim as a value (no type field added).
Bytes Raw(Bytes bytes);

Bytes ElemLpstr(std::string_view s, StrLayout layout = StrLayout::Unpadded, std::string_view fill = {});
Bytes ElemLpwstr(std::u16string_view s);
Bytes ElemI4(std::int32_t v);
Bytes ElemI2(std::int16_t v);  // 2 bytes padded to 4
Bytes ElemUI4(std::uint32_t v);
Bytes ElemEmpty();             // type field only
Bytes ElemRaw(std::uint16_t vt, const Bytes& data);  // type field, then `data` verbatim

// UTF-8 -> UTF-16 (no validation beyond what a test needs; ASCII is the common case).
std::u16string U16(std::string_view utf8);

struct Group {
  std::string heading;
  std::int32_t count;
};

// Heading pairs (VT_VECTOR|VT_VARIANT of heading string, VT_I4 count) and document parts
// (VT_VECTOR|VT_LPSTR). The W variants store the strings as VT_LPWSTR (code page 1200 sections).
Bytes HeadingPairs(const std::vector<Group>& groups, StrLayout layout = StrLayout::Unpadded);
Bytes DocParts(const std::vector<std::string>& parts, StrLayout layout = StrLayout::Unpadded);
Bytes HeadingPairsW(const std::vector<Group>& groups);
Bytes DocPartsW(const std::vector<std::string>& parts);

// ---------------------------------------------------------------------------------------------
// Property-set streams
// ---------------------------------------------------------------------------------------------

struct Section {
  Fmtid fmtid;
  std::vector<std::pair<std::uint32_t, Bytes>> props;  // table and values in this order
};

struct PropertySetOptions {
  bool alignValues = true;    // start each value at a multiple of 4 from the section start
  bool padSectionEnd = true;  // zero-pad each section (and its size field) to a multiple of 4
  std::uint16_t byteOrder = 0xFFFE;
  std::uint16_t version = 0;
  std::uint32_t systemId = 0x00020006;
};

// All offsets are absolute within the stream.
struct PropLoc {
  std::uint32_t id;
  std::size_t tableEntry;  // the (id, offset) pair; the offset dword is at tableEntry + 4
  std::size_t value;       // first byte of the value (its type field)
  std::size_t size;        // value bytes as encoded
};
struct SectionLoc {
  std::size_t headerEntry;  // the (fmtid, offset) pair in the stream header; offset dword at +16
  std::size_t start;        // section start: size dword at start, property count at start + 4
  std::size_t size;         // value written in the size field
  std::vector<PropLoc> props;
};
struct PropertySet {
  Bytes bytes;
  std::vector<SectionLoc> sections;
  // Absolute offset of property `id`'s value in section `section`; throws if absent.
  std::size_t ValueOffset(std::size_t section, std::uint32_t id) const;
};

// Stream header (byte order, version, system id, zero CLSID, section count, fmtid/offset list), then the
// sections back to back, each starting at a multiple of 4.
PropertySet BuildPropertySet(const std::vector<Section>& sections, const PropertySetOptions& opts = {});
Bytes PropertySetStream(const std::vector<Section>& sections, const PropertySetOptions& opts = {});

struct DocSummaryOptions {
  std::uint16_t codepage = 1252;  // 1200 stores every string as VT_LPWSTR
  StrLayout layout = StrLayout::Unpadded;
  // When set, a VT_LPSTR company property (15) is stored between the code page and the heading pairs;
  // with the unpadded layout it usually leaves property 12 at an offset that is not a multiple of 4.
  std::optional<std::string> company;
  bool userDefinedSection = false;  // add a second, user-defined section (dictionary + one string)
};

// A stream laid out the way real writers do it: code page (1), [company (15)], heading pairs (12),
// document parts (13); values are not re-aligned after unpadded strings.
PropertySet BuildDocSummary(const std::vector<Group>& groups, const std::vector<std::string>& parts,
                            const DocSummaryOptions& opts);
Bytes DocSummaryStream(const std::vector<Group>& groups, const std::vector<std::string>& parts,
                       std::uint16_t codepage = 1252, StrLayout layout = StrLayout::Unpadded);

// A small valid summary-information stream (code page, title, author).
Bytes SummaryInfoStream();

// ---------------------------------------------------------------------------------------------
// Compound files
// ---------------------------------------------------------------------------------------------

inline constexpr std::u16string_view kDocSummaryName = u"\005DocumentSummaryInformation";
inline constexpr std::u16string_view kSummaryName = u"\005SummaryInformation";

inline constexpr std::uint32_t kFreeSect = 0xFFFFFFFF;
inline constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
inline constexpr std::uint32_t kFatSect = 0xFFFFFFFD;
inline constexpr std::uint32_t kDifSect = 0xFFFFFFFC;
inline constexpr std::uint32_t kNoStream = 0xFFFFFFFF;

// Header field offsets.
inline constexpr std::size_t kHdrMinorVersion = 0x18;
inline constexpr std::size_t kHdrMajorVersion = 0x1A;
inline constexpr std::size_t kHdrByteOrder = 0x1C;
inline constexpr std::size_t kHdrSectorShift = 0x1E;
inline constexpr std::size_t kHdrMiniSectorShift = 0x20;
inline constexpr std::size_t kHdrDirSectorCount = 0x28;
inline constexpr std::size_t kHdrFatSectorCount = 0x2C;
inline constexpr std::size_t kHdrFirstDirSector = 0x30;
inline constexpr std::size_t kHdrTransaction = 0x34;
inline constexpr std::size_t kHdrMiniCutoff = 0x38;
inline constexpr std::size_t kHdrFirstMiniFatSector = 0x3C;
inline constexpr std::size_t kHdrMiniFatSectorCount = 0x40;
inline constexpr std::size_t kHdrFirstDifatSector = 0x44;
inline constexpr std::size_t kHdrDifatSectorCount = 0x48;
inline constexpr std::size_t kHdrDifat = 0x4C;  // 109 FAT sector ids

// Directory entry field offsets (relative to the entry).
inline constexpr std::size_t kDirNameLength = 0x40;
inline constexpr std::size_t kDirType = 0x42;
inline constexpr std::size_t kDirColour = 0x43;
inline constexpr std::size_t kDirLeft = 0x44;
inline constexpr std::size_t kDirRight = 0x48;
inline constexpr std::size_t kDirChild = 0x4C;
inline constexpr std::size_t kDirStart = 0x74;
inline constexpr std::size_t kDirSize = 0x78;

// A stream's content is `data` followed by filler up to `fillerSize` bytes in total (its size is
// max(data.size(), fillerSize)). Filler is generated while writing and never held in memory, so a
// stream can be huge; `data` plus filler also gives e.g. a summary stream padded to exactly 4096 bytes.
struct Entry {
  std::u16string name;  // at most 31 UTF-16 units
  enum Kind : std::uint8_t { Storage = 1, Stream = 2 } kind = Stream;
  Bytes data;
  std::uint64_t fillerSize = 0;
  std::vector<Entry> children;  // storages only
};
Entry StreamOf(std::u16string_view name, Bytes data);
Entry FillerStream(std::u16string_view name, std::uint64_t size);
Entry StorageOf(std::u16string_view name, std::vector<Entry> children);

struct CfbOptions {
  unsigned sectorShift = 9;  // 9: version 3, 512-byte sectors; 12: version 4, 4096-byte sectors
  // Shape of each storage's sibling tree.
  //   Balanced:       balanced binary search tree in the format's name order.
  //   RightChain:     sorted, each entry the right sibling of the previous (valid order, depth n).
  //   InsertionOrder: binary search tree built by inserting the children in the given order.
  //   UnsortedChain:  right chain in the given order (breaks the ordering unless already sorted).
  enum class Tree { Balanced, RightChain, InsertionOrder, UnsortedChain } tree = Tree::Balanced;
  bool directoryFirst = true;   // directory sectors before the stream data (else at the end of the file)
  bool reverseChains = false;   // every stream, mini-stream, directory and mini FAT chain runs backwards
  // Paths (see Layout) of streams whose data is placed after all other stream data. If any of them is a
  // mini stream, the whole mini stream goes after the regular streams.
  std::vector<std::u16string> placeLast;
  std::uint32_t truncateTail = 0;  // bytes cut off the end of the file (partial last sector)
  std::uint8_t fillerByte = 0;
  std::uint16_t minorVersion = 0x3E;
  // WriteCompoundFile leaves sectors of zero bytes (zero filler) as holes: a gigabyte
  // document that takes no disk.
  bool sparse = false;
};

// Layout facts for one directory entry. Chains are sector ids (regular streams) or mini sector ids
// (streams under 4096 bytes); empty streams and storages have an empty chain.
struct EntryLayout {
  std::u16string path;  // root: u""; root children: their name; deeper: u"Storage/Child"
  std::uint8_t type;    // 1 storage, 2 stream, 5 root
  std::uint64_t size;
  bool inMini;
  std::uint32_t start;  // as written in the entry
  std::vector<std::uint32_t> chain;
  std::uint32_t left, right, child;
  std::uint64_t dirOffset;  // absolute file offset of the 128-byte entry
};

struct Layout {
  std::uint32_t sectorSize = 0;
  std::uint16_t majorVersion = 0;
  std::uint32_t sectorCount = 0;  // sectors after the header, before any truncation
  std::uint64_t fileSize = 0;     // after truncation
  std::uint32_t firstDirSector = kEndOfChain;
  std::uint32_t firstMiniFatSector = kEndOfChain;
  std::uint32_t firstDifatSector = kEndOfChain;
  std::vector<std::uint32_t> dirChain, miniFatChain, fatSectors, difatSectors, miniStreamChain;
  std::uint32_t miniStreamStart = kEndOfChain;
  std::uint64_t miniStreamSize = 0;
  std::vector<std::uint32_t> fat, miniFat;  // tables as written (padded with free entries)
  std::vector<EntryLayout> entries;         // by directory index; 0 is the root
  std::map<std::u16string, std::uint32_t, std::less<>> indexByPath;

  const EntryLayout& At(std::u16string_view path) const;  // throws if absent
  std::uint64_t DirOffset(std::u16string_view path) const { return At(path).dirOffset; }
};

struct Built : Layout {
  Bytes bytes;
};

Built BuildCompoundFile(const std::vector<Entry>& rootChildren, const CfbOptions& opts = {});
// Same bytes as BuildCompoundFile, streamed to `path` with memory bounded by the tables and directory.
Layout WriteCompoundFile(const std::string& path, const std::vector<Entry>& rootChildren,
                         const CfbOptions& opts = {});

// Root with "\005SummaryInformation", "\005DocumentSummaryInformation" and a 16 KiB "Workbook" filler.
Bytes SimpleDocument(const std::vector<Group>& groups, const std::vector<std::string>& parts,
                     const CfbOptions& opts = {});

// ---------------------------------------------------------------------------------------------
// Patching helpers (little-endian; throw std::out_of_range past the end)
// ---------------------------------------------------------------------------------------------
void PutU16(Bytes& b, std::size_t offset, std::uint16_t v);
void PutU32(Bytes& b, std::size_t offset, std::uint32_t v);
void PutU64(Bytes& b, std::size_t offset, std::uint64_t v);
std::uint16_t GetU16(const Bytes& b, std::size_t offset);
std::uint32_t GetU32(const Bytes& b, std::size_t offset);
std::uint64_t GetU64(const Bytes& b, std::size_t offset);

std::uint64_t SectorOffset(const Layout& l, std::uint32_t sector);
// File offset of byte `pos` of the stream at `path`, following its (mini) chain.
std::uint64_t StreamByteOffset(const Layout& l, std::u16string_view path, std::uint64_t pos);
void WriteFile(const std::string& path, const Bytes& bytes);

}  // namespace testdoc
