#include "docprops/reader/compound_file.h"

#include <algorithm>
#include <cassert>
#include <span>

#include "docprops/reader/byte_cursor.h"
#include "docprops/reader/limits.h"

namespace docprops::cfb {
namespace {

constexpr std::array<std::uint8_t, 8> kSignature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::size_t kHeaderBytes = 512;
constexpr std::uint32_t kEntryBytes = 128;
constexpr std::size_t kHeaderTableEntries = 109;

bool SectorPresent(const CompoundFile& f, std::uint32_t sector) {
  return sector <= kMaxRegularSector && sector < f.sectorCount;
}

std::uint64_t SectorOffset(const CompoundFile& f, std::uint32_t sector) {
  return (static_cast<std::uint64_t>(sector) + 1) << f.sectorShift;
}

// Reads bytes at any offset; what lies past the end of the file reads as zeros, which
// is how a partial last sector is completed.
Fault ReadZeroFilled(CompoundFile& f, std::uint64_t offset, std::span<std::uint8_t> out) {
  std::uint64_t avail = 0;
  if (offset < f.fileSize) avail = std::min<std::uint64_t>(out.size(), f.fileSize - offset);
  if (avail > 0 && f.source->ReadAt(offset, out.first(static_cast<std::size_t>(avail))) != 0) return Fault::kIo;
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(avail), out.end(), std::uint8_t{0});
  return Fault::kNone;
}

// Reads a small range that lies inside one cache block, through the block cache.
Fault ReadSmall(CompoundFile& f, std::uint64_t offset, std::size_t length, std::span<const std::uint8_t>& out) {
  const std::uint64_t block = offset / limits::kBlockBytes;
  const std::size_t within = static_cast<std::size_t>(offset % limits::kBlockBytes);
  assert(within + length <= limits::kBlockBytes);
  CachedBlock* slot = nullptr;
  for (CachedBlock& b : f.cache) {
    if (b.index == block) {
      slot = &b;
      break;
    }
    if (slot == nullptr || b.lastUse < slot->lastUse) slot = &b;
  }
  if (slot->index != block) {
    slot->bytes.resize(limits::kBlockBytes);
    slot->index = UINT64_MAX;
    if (const Fault fault = ReadZeroFilled(f, block * limits::kBlockBytes, slot->bytes); fault != Fault::kNone) {
      return fault;
    }
    slot->index = block;
  }
  slot->lastUse = ++f.useClock;
  out = std::span<const std::uint8_t>(slot->bytes).subspan(within, length);
  return Fault::kNone;
}

Fault ReadU32Cached(CompoundFile& f, std::uint64_t offset, std::uint32_t& value) {
  std::span<const std::uint8_t> bytes;
  if (const Fault fault = ReadSmall(f, offset, 4, bytes); fault != Fault::kNone) return fault;
  value = U32At(bytes, 0);
  return Fault::kNone;
}

// Extends a chain's known prefix until it holds `position`. `next` gives the successor
// of a sector as stored (a sector number or a marker).
template <typename NextFn>
Fault ExtendChain(CompoundFile& f, Chain& c, std::uint64_t position, NextFn next) {
  if (c.sectors.empty()) {
    if (c.stop != Fault::kNone) return c.stop;
    if (c.start == kEndOfChain) return c.stop = Fault::kChainTooShort;
    if (!SectorPresent(f, c.start)) return c.stop = Fault::kBadSectorId;
    c.sectors.push_back(c.start);
    c.tortoise = c.start;
  }
  while (c.sectors.size() <= position) {
    if (c.stop != Fault::kNone) return c.stop;
    // Brent's method finds any cycle within about three times the sectors present;
    // this bound only backs that up.
    if (c.sectors.size() > 3 * f.sectorCount + 2) return c.stop = Fault::kChainCycle;
    std::uint32_t n = 0;
    if (const Fault fault = next(f, c.sectors.back(), n); fault != Fault::kNone) {
      if (fault != Fault::kIo) c.stop = fault;  // an I/O failure may pass; damage does not
      return fault;
    }
    if (n == kEndOfChain) return c.stop = Fault::kChainTooShort;
    if (!SectorPresent(f, n)) return c.stop = Fault::kBadSectorId;
    if (n == c.tortoise) return c.stop = Fault::kChainCycle;
    c.sectors.push_back(n);
    if (++c.lambda == c.power) {
      c.tortoise = n;
      c.power *= 2;
      c.lambda = 0;
    }
  }
  return Fault::kNone;
}

// The successor of an index sector is the last number it holds. Real writers end the
// chain with either marker.
Fault IndexNext(CompoundFile& f, std::uint32_t sector, std::uint32_t& next) {
  std::array<std::uint8_t, 4> bytes = {};
  if (const Fault fault = ReadZeroFilled(f, SectorOffset(f, sector) + f.sectorSize - 4, bytes); fault != Fault::kNone) {
    return fault;
  }
  next = U32At(bytes, 0);
  if (next > kMaxRegularSector) next = kEndOfChain;
  return Fault::kNone;
}

// The allocation-table entry of a sector: its successor in whatever chain holds it.
// The table is as long as the header says; an entry beyond that has no valid value.
Fault TableNext(CompoundFile& f, std::uint32_t sector, std::uint32_t& next) {
  const std::uint32_t perSector = f.sectorSize / 4;
  const std::uint32_t tableIndex = sector / perSector;
  if (tableIndex >= f.tableSectorCount) return Fault::kTableIndexOutOfRange;
  std::uint32_t tableSector = 0;
  if (tableIndex < kHeaderTableEntries) {
    tableSector = f.headerTable[tableIndex];
  } else {
    const std::uint32_t k = tableIndex - kHeaderTableEntries;
    const std::uint32_t perIndexSector = perSector - 1;
    const Fault fault = ExtendChain(f, f.indexChain, k / perIndexSector, IndexNext);
    if (fault == Fault::kIo) return fault;
    if (fault != Fault::kNone) return Fault::kIndexChainBroken;
    const std::uint64_t at = SectorOffset(f, f.indexChain.sectors[k / perIndexSector]) + 4ull * (k % perIndexSector);
    if (const Fault f2 = ReadU32Cached(f, at, tableSector); f2 != Fault::kNone) return f2;
  }
  if (!SectorPresent(f, tableSector)) return Fault::kBadSectorId;
  return ReadU32Cached(f, SectorOffset(f, tableSector) + 4ull * (sector % perSector), next);
}

// The mini-table entry of a mini sector.
Fault MiniTableNext(CompoundFile& f, std::uint32_t miniSector, std::uint32_t& next) {
  const std::uint64_t byteOffset = static_cast<std::uint64_t>(miniSector) * 4;
  const std::uint64_t position = byteOffset >> f.sectorShift;
  if (position >= f.sectorCount) return Fault::kBadSectorId;
  if (const Fault fault = ExtendChain(f, f.miniTable, position, TableNext); fault != Fault::kNone) return fault;
  return ReadU32Cached(f, SectorOffset(f, f.miniTable.sectors[position]) + (byteOffset & (f.sectorSize - 1)), next);
}

// Copies one mini sector into `out` (at most 64 bytes); bytes past the mini stream's
// size or past the end of the file read as zeros, and a mini sector must start inside
// the mini stream. `fromFile` receives how many leading bytes of `out` the file holds.
Fault ReadMiniSector(CompoundFile& f, std::uint32_t miniSector, std::span<std::uint8_t> out, std::size_t& fromFile) {
  const std::uint64_t byteOffset = static_cast<std::uint64_t>(miniSector) * kMiniSectorBytes;
  if (byteOffset >= f.miniStreamSize) return Fault::kBadMiniSector;
  const std::uint64_t position = byteOffset >> f.sectorShift;
  if (position >= f.sectorCount) return Fault::kBadMiniSector;
  if (const Fault fault = ExtendChain(f, f.miniStream, position, TableNext); fault != Fault::kNone) return fault;
  std::span<const std::uint8_t> bytes;
  const std::uint64_t at = SectorOffset(f, f.miniStream.sectors[position]) + (byteOffset & (f.sectorSize - 1));
  if (const Fault fault = ReadSmall(f, at, kMiniSectorBytes, bytes); fault != Fault::kNone) return fault;
  const std::uint64_t valid = std::min<std::uint64_t>(kMiniSectorBytes, f.miniStreamSize - byteOffset);
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = i < valid ? bytes[i] : 0;
  const std::uint64_t inFile = at < f.fileSize ? f.fileSize - at : 0;
  fromFile = static_cast<std::size_t>(std::min<std::uint64_t>({valid, inFile, out.size()}));
  return Fault::kNone;
}

Fault ReadMiniStream(CompoundFile& f, const DirEntry& e, std::vector<std::uint8_t>& out, std::uint64_t& present) {
  if (e.size > f.miniStreamSize) return Fault::kStreamTooLarge;
  const std::size_t size = static_cast<std::size_t>(e.size);
  std::vector<std::uint8_t> data(size);
  std::uint64_t inFile = size;
  std::vector<std::uint32_t> seen;  // at most 64 mini sectors: under the cutoff
  std::uint32_t m = e.start;
  for (std::size_t done = 0; done < size; done += kMiniSectorBytes) {
    if (m == kEndOfChain) return Fault::kChainTooShort;
    if (m > kMaxRegularSector) return Fault::kBadSectorId;
    if (std::find(seen.begin(), seen.end(), m) != seen.end()) return Fault::kChainCycle;
    seen.push_back(m);
    const std::size_t take = std::min<std::size_t>(kMiniSectorBytes, size - done);
    std::size_t fromFile = 0;
    if (const Fault fault = ReadMiniSector(f, m, std::span<std::uint8_t>(data).subspan(done, take), fromFile);
        fault != Fault::kNone) {
      return fault;
    }
    if (fromFile < take) inFile = std::min<std::uint64_t>(inFile, done + fromFile);
    if (done + take < size) {
      if (const Fault fault = MiniTableNext(f, m, m); fault != Fault::kNone) return fault;
    }
  }
  out = std::move(data);
  present = inFile;
  return Fault::kNone;
}

Fault ReadRegularStream(CompoundFile& f, const DirEntry& e, std::vector<std::uint8_t>& out, std::uint64_t& present) {
  if (e.size > f.fileSize) return Fault::kStreamTooLarge;
  const std::uint64_t count = (e.size + f.sectorSize - 1) >> f.sectorShift;
  std::vector<std::uint32_t> sectors;
  sectors.reserve(static_cast<std::size_t>(count));
  std::uint32_t s = e.start;
  for (std::uint64_t k = 0; k < count; ++k) {
    if (s == kEndOfChain) return Fault::kChainTooShort;
    if (!SectorPresent(f, s)) return Fault::kBadSectorId;
    sectors.push_back(s);
    if (k + 1 < count) {
      if (const Fault fault = TableNext(f, s, s); fault != Fault::kNone) return fault;
    }
  }
  std::vector<std::uint32_t> sorted = sectors;
  std::sort(sorted.begin(), sorted.end());
  if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) return Fault::kChainCycle;

  std::vector<std::uint8_t> data(static_cast<std::size_t>(e.size));
  std::span<std::uint8_t> rest(data);
  std::uint64_t inFile = e.size;
  // One read per run of consecutive sectors.
  for (std::size_t k = 0; k < sectors.size();) {
    std::size_t run = 1;
    while (k + run < sectors.size() && sectors[k + run] == sectors[k] + run) ++run;
    const std::size_t bytes = std::min<std::size_t>(rest.size(), run << f.sectorShift);
    const std::uint64_t offset = SectorOffset(f, sectors[k]);
    if (const Fault fault = ReadZeroFilled(f, offset, rest.first(bytes)); fault != Fault::kNone) return fault;
    if (offset + bytes > f.fileSize) {
      const std::uint64_t done = data.size() - rest.size();
      inFile = std::min<std::uint64_t>(inFile, done + (offset < f.fileSize ? f.fileSize - offset : 0));
    }
    rest = rest.subspan(bytes);
    k += run;
  }
  out = std::move(data);
  present = inFile;
  return Fault::kNone;
}

char16_t UpperCase(char16_t u) {
  if (u >= u'a' && u <= u'z') return static_cast<char16_t>(u - (u'a' - u'A'));
  if (u == 0x0131) return u'I';  // dotless i
  if (u == 0x017F) return u'S';  // long s
  return u;
}

// The visited set of a directory walk: one bit per entry index, grown on demand. Entry
// indexes are checked against the directory's reach before they are marked.
class VisitedEntries {
 public:
  bool Test(std::uint32_t i) const { return i < bits_.size() && bits_[i]; }
  void Set(std::uint32_t i) {
    if (i >= bits_.size()) bits_.resize(static_cast<std::size_t>(i) + 1);
    bits_[i] = true;
  }

 private:
  std::vector<bool> bits_;
};

}  // namespace

int CompareNames(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char16_t x = UpperCase(a[i]);
    const char16_t y = UpperCase(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

Fault ReadDirEntry(CompoundFile& f, std::uint32_t index, DirEntry& entry) {
  if (index > kMaxRegularSector) return Fault::kBadEntryId;
  const std::uint64_t byteOffset = static_cast<std::uint64_t>(index) * kEntryBytes;
  const std::uint64_t position = byteOffset >> f.sectorShift;
  if (position >= f.sectorCount) return Fault::kBadEntryId;
  if (const Fault fault = ExtendChain(f, f.directory, position, TableNext); fault != Fault::kNone) {
    return fault == Fault::kIo ? fault : Fault::kBadEntryId;
  }
  std::span<const std::uint8_t> bytes;
  const std::uint64_t at = SectorOffset(f, f.directory.sectors[position]) + (byteOffset & (f.sectorSize - 1));
  if (const Fault fault = ReadSmall(f, at, kEntryBytes, bytes); fault != Fault::kNone) return fault;

  DirEntry e;
  e.index = index;
  ByteCursor c(bytes);
  for (std::uint8_t i = 0; i < e.name.size(); ++i) {
    std::uint16_t unit = 0;
    if (!c.ReadU16(unit) || unit == 0) break;
    e.name[i] = unit;
    e.nameUnits = static_cast<std::uint8_t>(i + 1);
  }
  e.type = bytes[0x42];
  e.left = U32At(bytes, 0x44);
  e.right = U32At(bytes, 0x48);
  e.child = U32At(bytes, 0x4C);
  e.start = U32At(bytes, 0x74);
  c.Seek(0x78);
  c.ReadU64(e.size);
  if (f.sectorSize == 512) e.size &= 0xFFFFFFFFu;  // old writers left garbage in the high half
  entry = e;
  return Fault::kNone;
}

Fault OpenCompoundFile(ByteSource& source, CompoundFile& f) {
  f = CompoundFile();
  f.source = &source;
  f.fileSize = source.Size();
  f.cache.resize(limits::kCachedBlocks);
  if (f.fileSize < kHeaderBytes) return Fault::kNotCompoundFile;
  std::span<const std::uint8_t> header;
  if (const Fault fault = ReadSmall(f, 0, kHeaderBytes, header); fault != Fault::kNone) return fault;
  if (!std::equal(kSignature.begin(), kSignature.end(), header.begin())) return Fault::kNotCompoundFile;

  const std::uint16_t shift = U16At(header, 0x1E);
  if (shift != 9 && shift != 12) return Fault::kBadSectorShift;
  f.sectorShift = shift;
  f.sectorSize = 1u << shift;
  f.sectorCount = f.fileSize > f.sectorSize ? (f.fileSize - 1) / f.sectorSize : 0;
  f.tableSectorCount = U32At(header, 0x2C);
  f.directory.start = U32At(header, 0x30);
  f.firstMiniTableSector = U32At(header, 0x3C);
  f.miniTable.start = f.firstMiniTableSector;
  f.indexChain.start = U32At(header, 0x44);
  if (f.indexChain.start > kMaxRegularSector) f.indexChain.start = kEndOfChain;
  for (std::size_t i = 0; i < kHeaderTableEntries; ++i) f.headerTable[i] = U32At(header, 0x4C + 4 * i);

  DirEntry root;
  if (const Fault fault = ReadDirEntry(f, 0, root); fault != Fault::kNone) return fault;
  if (root.type != static_cast<std::uint8_t>(EntryType::kRoot)) return Fault::kNoRoot;
  f.miniStream.start = root.start;
  f.miniStreamSize = root.size;
  f.rootChild = root.child;
  return Fault::kNone;
}

Fault FindRootStream(CompoundFile& f, std::u16string_view name, DirEntry& entry) {
  const auto isStream = [](const DirEntry& e) { return e.type == static_cast<std::uint8_t>(EntryType::kStream); };

  // First the descent that an ordered tree allows: a handful of entries.
  {
    VisitedEntries seen;
    seen.Set(0);
    std::uint32_t current = f.rootChild;
    for (std::uint32_t steps = 0; steps < limits::kMaxDirectoryVisits; ++steps) {
      DirEntry e;
      if (current > kMaxRegularSector || seen.Test(current) || ReadDirEntry(f, current, e) != Fault::kNone) break;
      seen.Set(current);
      const int order = CompareNames(name, e.Name());
      if (order == 0) {
        if (!isStream(e)) break;
        entry = e;
        return Fault::kNone;
      }
      current = order < 0 ? e.left : e.right;
    }
  }

  // The descent ran into damage or an unordered tree: walk the whole sibling tree of the
  // root's children, never into child storages, and take the lowest-indexed match.
  VisitedEntries seen;
  seen.Set(0);
  std::vector<std::uint32_t> pending = {f.rootChild};
  bool found = false;
  for (std::uint32_t visits = 0; !pending.empty() && visits < limits::kMaxDirectoryVisits;) {
    const std::uint32_t current = pending.back();
    pending.pop_back();
    DirEntry e;
    if (current > kMaxRegularSector || seen.Test(current) || ReadDirEntry(f, current, e) != Fault::kNone) continue;
    seen.Set(current);
    ++visits;
    if (isStream(e) && CompareNames(name, e.Name()) == 0 && (!found || current < entry.index)) {
      entry = e;
      found = true;
    }
    pending.push_back(e.left);
    pending.push_back(e.right);
  }
  return found ? Fault::kNone : Fault::kNotFound;
}

Fault ReadStream(CompoundFile& f, const DirEntry& entry, std::uint64_t maxBytes, std::vector<std::uint8_t>& out,
                 std::uint64_t* present) {
  if (entry.size > maxBytes) return Fault::kStreamTooLarge;
  std::uint64_t inFile = 0;
  const Fault fault = entry.size < kMiniStreamCutoff ? ReadMiniStream(f, entry, out, inFile)
                                                     : ReadRegularStream(f, entry, out, inFile);
  if (fault == Fault::kNone && present != nullptr) *present = inFile;
  return fault;
}

}  // namespace docprops::cfb
