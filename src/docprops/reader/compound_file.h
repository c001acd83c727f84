// A lazy reader of compound files (versions 3 and 4). It reads only what a lookup
// needs: the header, the index and allocation-table entries of the chains it walks,
// the directory entries it visits, the mini-table and mini-stream sectors it touches
// and the stream asked for. Damage matters only where the reading meets it.
//
// Guarantees: every chain walk and tree walk ends (a chain ends at its first repeated
// sector; trees are walked with a visited set and without recursion); no read leaves
// the file; nothing is allocated beyond what the bytes present can justify.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "docprops/reader/byte_source.h"
#include "docprops/reader/fault.h"

namespace docprops::cfb {

inline constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFF9;  // larger values are markers
inline constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
inline constexpr std::uint32_t kNoStream = 0xFFFFFFFF;
inline constexpr std::uint64_t kMiniStreamCutoff = 4096;  // fixed by the format
inline constexpr std::uint32_t kMiniSectorBytes = 64;     // fixed by the format

enum class EntryType : std::uint8_t { kUnused = 0, kStorage = 1, kStream = 2, kRoot = 5 };

struct DirEntry {
  std::uint32_t index = 0;
  std::array<char16_t, 32> name = {};
  std::uint8_t nameUnits = 0;  // units before the first zero unit; the length field is not trusted
  std::uint8_t type = 0;
  std::uint32_t left = kNoStream;
  std::uint32_t right = kNoStream;
  std::uint32_t child = kNoStream;
  std::uint32_t start = kEndOfChain;
  std::uint64_t size = 0;  // only the low 32 bits in files with 512-byte sectors

  std::u16string_view Name() const { return std::u16string_view(name.data(), nameUnits); }
};

// The sectors a chain has passed: a set of sector numbers with O(1) insertion and
// lookup (open addressing), holding about four bytes per sector passed, twice over.
class SectorSet {
 public:
  // Adds `sector`; false when it was there already.
  bool Insert(std::uint32_t sector);

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
  SectorSet passed;
  Fault stop;  // why the chain cannot be extended (damage only: an I/O failure may pass)
};

struct CachedBlock {
  std::uint64_t index = UINT64_MAX;
  std::uint64_t lastUse = 0;
  std::vector<std::uint8_t> bytes;
};

struct CompoundFile {
  ByteSource* source = nullptr;
  std::uint64_t fileSize = 0;
  std::uint32_t sectorShift = 9;
  std::uint32_t sectorSize = 512;
  std::uint64_t sectorCount = 0;  // sectors that start inside the file
  std::uint32_t tableSectorCount = 0;
  std::array<std::uint32_t, 109> headerTable = {};
  // The allocation-table sector found last, by its place in the table: a chain walk
  // reads many entries of one table sector in a row.
  std::uint32_t lastTableIndex = UINT32_MAX;
  std::uint32_t lastTableSector = 0;
  Chain indexChain;  // index (DIFAT) sectors
  Chain directory;
  Chain miniTable;
  Chain miniStream;  // the root entry's stream, which holds the mini sectors
  std::uint64_t miniStreamSize = 0;
  std::uint32_t rootChild = kNoStream;
  std::vector<CachedBlock> cache;  // header, table, directory and mini-sector blocks
  std::uint64_t useClock = 0;
  std::size_t lastBlock = 0;  // the slot used last: a chain walk reads one table block many times over
};

// Reads and checks the header and the root entry.
Fault OpenCompoundFile(ByteSource& source, CompoundFile& file);

// Finds the stream entry of the given name among the root storage's children (never
// inside child storages). Names compare without regard to case. When the stream is not
// found, the fault is the first damage the lookup met, or kStreamNotFound in an intact
// tree.
Fault FindRootStream(CompoundFile& file, std::u16string_view name, DirEntry& entry);

// Reads a stream: exactly the bytes the file holds of it. It is cut at the first byte
// that the file does not hold (the file ends inside one of its sectors) or, for a
// stream in the mini stream, at the first byte past the mini stream's size. A stream
// declared larger than maxBytes is refused unread (kStreamTooLarge).
Fault ReadStream(CompoundFile& file, const DirEntry& entry, std::uint64_t maxBytes, std::vector<std::uint8_t>& out);

// Reads one directory entry by index.
Fault ReadDirEntry(CompoundFile& file, std::uint32_t index, DirEntry& entry);

// The sector (a mini sector, in a Link::kMiniTable chain) at `position` of a chain,
// walking the chain as far as that.
Fault ChainSector(CompoundFile& file, Chain& chain, std::uint64_t position, std::uint32_t& sector);

// Compares two names in the directory's order: fewer units first, then unit by unit
// after upper-casing. Exact when either name is ASCII, which every name looked up is.
int CompareNames(std::u16string_view a, std::u16string_view b);

}  // namespace docprops::cfb
