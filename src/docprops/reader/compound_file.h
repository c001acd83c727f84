// A lazy reader of compound files (versions 3 and 4). It reads only what a lookup
// needs: the header, the index and allocation-table entries of the chains it walks,
// the directory entries it visits, the mini-table and mini-stream sectors it touches
// and the stream asked for. Damage matters only where the reading meets it.
//
// Guarantees: every chain walk and tree walk ends (cycles are detected, steps are
// bounded by the sectors present); no read leaves the file; nothing is allocated
// beyond what the bytes present can justify.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "docprops/reader/byte_source.h"

namespace docprops::cfb {

// Why a step failed. The tool never shows it; tests assert which check fired.
enum class Fault : std::uint8_t {
  kNone,
  kIo,                 // the source failed to deliver bytes
  kNotCompoundFile,    // too short, or no signature
  kBadSectorShift,     // sector size other than 512 or 4096
  kBadSectorId,        // a sector number that is a marker, or lies wholly past the end
  kTableIndexOutOfRange,  // an allocation-table entry beyond the table's declared length
  kIndexChainBroken,   // the index (DIFAT) chain ended or broke before the entry needed
  kChainCycle,         // a chain returned to a sector it had passed
  kChainTooShort,      // a chain ended before the position or size needed
  kNoRoot,             // the first directory entry is not a root entry
  kBadEntryId,         // a directory entry the directory chain does not reach
  kNotFound,           // no stream of that name among the root's children
  kStreamTooLarge,     // a stream larger than the caller accepts or the file can hold
  kBadMiniSector,      // a mini sector outside the mini stream
};

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

// The prefix of one sector chain found so far. Walks extend it on demand, so asking
// for the k-th sector twice costs one walk; a cycle is detected (Brent's method)
// within a bounded number of steps of entering it.
struct Chain {
  std::uint32_t start = kEndOfChain;
  std::vector<std::uint32_t> sectors;
  Fault stop = Fault::kNone;  // why the chain cannot be extended further
  std::uint32_t tortoise = 0;
  std::uint64_t power = 1;
  std::uint64_t lambda = 0;
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
  std::uint32_t firstMiniTableSector = kEndOfChain;
  std::array<std::uint32_t, 109> headerTable = {};
  Chain indexChain;  // index (DIFAT) sectors, found as far as needed
  Chain directory;
  Chain miniTable;
  Chain miniStream;
  std::uint64_t miniStreamSize = 0;
  std::uint32_t rootChild = kNoStream;
  std::vector<CachedBlock> cache;
  std::uint64_t useClock = 0;
};

// Reads and checks the header and the root entry.
Fault OpenCompoundFile(ByteSource& source, CompoundFile& file);

// Finds the stream entry of the given name among the root storage's children
// (never inside child storages). Names compare without regard to case.
Fault FindRootStream(CompoundFile& file, std::u16string_view name, DirEntry& entry);

// Reads a whole stream. Streams larger than maxBytes are refused unread. Bytes the file
// does not hold read as zeros: those cut off by its end (a partial last sector) and, for
// a stream in the mini stream, those past the mini stream's size. `present`, when given,
// receives the length of the stream's prefix read from the file itself, up to the first
// byte completed that way (the stream's size when there is none).
Fault ReadStream(CompoundFile& file, const DirEntry& entry, std::uint64_t maxBytes, std::vector<std::uint8_t>& out,
                 std::uint64_t* present = nullptr);

// Reads one directory entry by index.
Fault ReadDirEntry(CompoundFile& file, std::uint32_t index, DirEntry& entry);

// Compares two names in the directory's order: fewer units first, then unit by unit
// after simple upper-casing.
int CompareNames(std::u16string_view a, std::u16string_view b);

}  // namespace docprops::cfb
