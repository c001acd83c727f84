// The compound-file reader's own state and steps, for its source files and its tests.
// Front ends see only readers/cfb/compound_file.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "readers/cfb/compound_file.h"

namespace readers::cfb {

inline constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFF9;  // larger values are markers
inline constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
inline constexpr std::uint32_t kNoStream = 0xFFFFFFFF;
inline constexpr std::uint64_t kMiniStreamCutoff = 4096;  // fixed by the format
inline constexpr std::uint32_t kMiniSectorBytes = 64;     // fixed by the format

// Where the fields this reader uses lie, in bytes from the start of their record.
//
//   header (512 bytes, at offset 0 of the file)
//     0x00 signature (8)                   0x30 first directory sector (4)
//     0x1E sector shift (2)                0x3C first mini-table sector (4)
//     0x2C allocation-table sectors (4)    0x44 first index sector (4)
//                                          0x4C the first 109 allocation-table sectors (4 each)
//   directory entry (128 bytes)
//     0x00 name, UTF-16LE (64)             0x4C child (4)
//     0x42 type (1)                        0x74 start sector (4)
//     0x44 left sibling (4)                0x78 stream size (8)
//     0x48 right sibling (4)
inline constexpr std::size_t kHeaderBytes = 512;
inline constexpr std::size_t kSignatureAt = 0x00;
inline constexpr std::array<std::uint8_t, 8> kSignature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
inline constexpr std::size_t kSectorShiftAt = 0x1E;
inline constexpr std::size_t kTableSectorCountAt = 0x2C;
inline constexpr std::size_t kFirstDirectorySectorAt = 0x30;
inline constexpr std::size_t kFirstMiniTableSectorAt = 0x3C;
inline constexpr std::size_t kFirstIndexSectorAt = 0x44;
inline constexpr std::size_t kHeaderTableAt = 0x4C;
inline constexpr std::uint32_t kHeaderTableEntries = 109;

inline constexpr std::size_t kEntryBytes = 128;
inline constexpr std::size_t kEntryNameAt = 0x00;
inline constexpr std::size_t kEntryNameUnits = 32;
inline constexpr std::size_t kEntryTypeAt = 0x42;
inline constexpr std::size_t kEntryLeftAt = 0x44;
inline constexpr std::size_t kEntryRightAt = 0x48;
inline constexpr std::size_t kEntryChildAt = 0x4C;
inline constexpr std::size_t kEntryStartAt = 0x74;
inline constexpr std::size_t kEntrySizeAt = 0x78;

// The sectors a chain has passed: a set of sector numbers with O(1) insertion and
// lookup (open addressing, at most half full). It grows fourfold when half full, so it
// holds between two and eight four-byte slots per sector passed.
class SectorSet {
 public:
  // Adds `sector`; false when it was there already.
  bool Insert(std::uint32_t sector);
  // Empties the set, keeping its memory.
  void Clear();

 private:
  std::vector<std::uint32_t> slots_;  // kNoStream marks a free slot: it is never a sector
  std::size_t used_ = 0;
};

// How a chain finds the sector after a given one, and which numbers are sectors of it.
enum class Link : std::uint8_t {
  kIndex,      // index sectors: the last number an index sector holds
  kTable,      // regular sectors: the sector's allocation-table entry
  kMiniTable,  // mini sectors: the mini sector's mini-table entry; it must start inside the mini stream
};

// The walked prefix of one chain, extended on demand one link at a time, so asking for
// the k-th sector twice costs one walk. A sector already in the prefix ends the chain
// as a loop: no position past the first repeat is ever handed out.
struct Chain {
  Structure where = Structure::kNone;  // named in the faults of this chain
  Link link = Link::kTable;
  std::uint32_t start = kEndOfChain;
  std::vector<std::uint32_t> sectors;
  bool ascending = true;  // every sector so far is past the one before it; `passed` is empty
  SectorSet passed;       // the sectors passed, once the chain has turned back
  Fault stop;  // why the chain cannot be extended (damage only: an I/O failure may pass)

  // Makes this the chain that starts at `first`, keeping the memory of the last one.
  void Reset(Structure chainWhere, Link chainLink, std::uint32_t first);
};

struct CachedBlock {
  std::uint64_t index = UINT64_MAX;
  std::uint64_t lastUse = 0;
  std::vector<std::uint8_t> bytes;
};

namespace detail {

struct FileState {
  // Makes this the state of the file `from` holds, as if no other had been read: every
  // field below is set; only the memory of the chains and the cache stays.
  void Reset(ByteSource& from);

  ByteSource* source = nullptr;
  std::uint64_t fileSize = 0;
  std::uint32_t sectorShift = 9;
  std::uint32_t sectorSize = 512;
  std::uint64_t sectorCount = 0;  // sectors that start inside the file
  std::uint32_t tableSectorCount = 0;
  // The header as read: its table of the first allocation-table sectors is looked up
  // where a walk needs an entry, since most documents need one or two of its 109.
  std::array<std::uint8_t, kHeaderBytes> header = {};
  // The allocation-table sector found last, by its place in the table: a chain walk
  // reads many entries of one table sector in a row.
  std::uint32_t lastTableIndex = UINT32_MAX;
  std::uint32_t lastTableSector = 0;
  Chain indexChain;  // index (DIFAT) sectors
  Chain directory;
  Chain miniTable;
  Chain miniStream;  // the root entry's stream, which holds the mini sectors
  Chain stream;      // the chain of the stream being read
  std::uint64_t miniStreamSize = 0;
  std::uint32_t rootChild = kNoStream;
  std::vector<CachedBlock> cache;  // header, table, directory and mini-sector blocks
  std::uint64_t useClock = 0;
  std::size_t lastBlock = 0;  // the slot used last: a chain walk reads one table block many times over
};

}  // namespace detail

using detail::FileState;

// Reads one directory entry by index.
Fault ReadDirEntry(FileState& file, std::uint32_t index, DirEntry& entry);

// The sector (a mini sector, in a Link::kMiniTable chain) at `position` of a chain,
// walking the chain as far as that.
Fault ChainSector(FileState& file, Chain& chain, std::uint64_t position, std::uint32_t& sector);

// Compares two names in the directory's order: fewer units first, then unit by unit
// after upper-casing. Exact when either name is ASCII, which every name looked up is.
int CompareNames(std::u16string_view a, std::u16string_view b);

}  // namespace readers::cfb
