#include "readers/cfb/compound_file.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "byte_cursor.h"
#include "cfb/file_state.h"
#include "readers/limits.h"

namespace readers::cfb {
namespace {

Fault Damage(Defect defect, Structure where) { return Fault{defect, where, 0}; }

bool SectorPresent(const FileState& f, std::uint32_t sector) {
  return sector <= kMaxRegularSector && sector < f.sectorCount;
}

// Why `sector` is no sector of this file. A number the allocation table describes, but
// whose sector starts past the end of the file, is a file shorter than its header and
// table say: it was cut (a copy or download that stopped), and it ends early there. Any
// other number is bad.
Fault MissingSector(const FileState& f, std::uint32_t sector, Structure where) {
  const std::uint64_t described = static_cast<std::uint64_t>(f.tableSectorCount) * (f.sectorSize / 4);
  const bool cut = sector <= kMaxRegularSector && sector >= f.sectorCount && sector < described;
  return Damage(cut ? Defect::kEndsEarly : Defect::kBadSectorId, where);
}

std::uint64_t SectorOffset(const FileState& f, std::uint32_t sector) {
  return (static_cast<std::uint64_t>(sector) + 1) << f.sectorShift;
}

// Fills `out` with the bytes at `offset` of the file, zeros for any past its end. The
// one read of the file's bytes. A file that no longer holds bytes it held when it was
// opened (it shrank under the reader) is shorter than the structure being read says:
// that structure ends early, which is damage; kIo is kept for a failed system call.
Fault ReadZeroFilled(FileState& f, std::uint64_t offset, std::span<std::uint8_t> out, Structure where) {
  const std::size_t held =
      offset < f.fileSize ? static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), f.fileSize - offset)) : 0;
  if (held > 0) {
    if (const Fault fault = ReadFault(f.source->ReadAt(offset, out.first(held)), where); !fault.ok()) return fault;
  }
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(held), out.end(), std::uint8_t{0});
  return kOk;
}

// The bytes at `offset` through the block cache, as a view into the cached block that
// holds them, valid until the next read through the cache; the range lies inside one
// block. What lies past the end of the file reads as zeros, which is how a partial last
// sector of the header, a table or the directory is completed.
Fault CachedView(FileState& f, std::uint64_t offset, std::size_t length, Structure where,
                 std::span<const std::uint8_t>& view) {
  const std::uint64_t block = offset / limits::kBlockBytes;
  const std::size_t within = static_cast<std::size_t>(offset % limits::kBlockBytes);
  assert(within + length <= limits::kBlockBytes);
  CachedBlock* slot = &f.cache[f.lastBlock];
  if (slot->index != block) {
    for (CachedBlock& b : f.cache) {
      if (b.index == block) {
        slot = &b;
        break;
      }
      if (b.lastUse < slot->lastUse) slot = &b;
    }
    f.lastBlock = static_cast<std::size_t>(slot - f.cache.data());
  }
  if (slot->index != block) {
    slot->bytes.resize(limits::kBlockBytes);
    slot->index = UINT64_MAX;
    if (const Fault fault = ReadZeroFilled(f, block * limits::kBlockBytes, slot->bytes, where); !fault.ok()) {
      return fault;
    }
    slot->index = block;
  }
  slot->lastUse = ++f.useClock;
  view = std::span<const std::uint8_t>(slot->bytes).subspan(within, length);
  return kOk;
}

// Fills `out` with the bytes at `offset` through the block cache (CachedView's range).
Fault ReadCached(FileState& f, std::uint64_t offset, std::span<std::uint8_t> out, Structure where) {
  std::span<const std::uint8_t> view;
  if (const Fault fault = CachedView(f, offset, out.size(), where, view); !fault.ok()) return fault;
  std::copy(view.begin(), view.end(), out.begin());
  return kOk;
}

Fault ReadU32Cached(FileState& f, std::uint64_t offset, std::uint32_t& value, Structure where) {
  std::span<const std::uint8_t> view;
  if (const Fault fault = CachedView(f, offset, 4, where, view); !fault.ok()) return fault;
  value = U32At(view, 0);
  return kOk;
}

// The successor of an index sector is the last number it holds. Real writers end the
// chain with either the end-of-chain or the free marker. A large file has a long index
// chain whose sectors are passed for this number alone, so it is read by itself (four
// bytes, zero past the end of the file), not through the block cache.
Fault IndexNext(FileState& f, std::uint32_t sector, std::uint32_t& next) {
  std::array<std::uint8_t, 4> bytes = {};
  const std::uint64_t at = SectorOffset(f, sector) + f.sectorSize - 4;
  if (const Fault fault = ReadZeroFilled(f, at, bytes, Structure::kIndexChain); !fault.ok()) return fault;
  next = U32At(bytes, 0);
  if (next > kMaxRegularSector) next = kEndOfChain;
  return kOk;
}

// The allocation-table entry of a sector: its successor in whatever chain holds it.
// The table is as long as the header says; an entry beyond that has no valid value.
Fault TableNext(FileState& f, std::uint32_t sector, std::uint32_t& next) {
  const std::uint32_t perSector = f.sectorSize / 4;
  const std::uint32_t tableIndex = sector / perSector;
  if (tableIndex >= f.tableSectorCount) return Damage(Defect::kOutOfRange, Structure::kTable);
  std::uint32_t tableSector = 0;
  if (tableIndex == f.lastTableIndex) {
    tableSector = f.lastTableSector;
  } else if (tableIndex < kHeaderTableEntries) {
    tableSector = U32At(f.header, kHeaderTableAt + 4ull * tableIndex);
  } else {
    const std::uint32_t k = tableIndex - kHeaderTableEntries;
    const std::uint32_t perIndexSector = perSector - 1;
    std::uint32_t indexSector = 0;
    if (const Fault fault = ChainSector(f, f.indexChain, k / perIndexSector, indexSector); !fault.ok()) return fault;
    const std::uint64_t at = SectorOffset(f, indexSector) + 4ull * (k % perIndexSector);
    if (const Fault fault = ReadU32Cached(f, at, tableSector, Structure::kIndexChain); !fault.ok()) return fault;
  }
  if (!SectorPresent(f, tableSector)) return MissingSector(f, tableSector, Structure::kTable);
  f.lastTableIndex = tableIndex;
  f.lastTableSector = tableSector;
  return ReadU32Cached(f, SectorOffset(f, tableSector) + 4ull * (sector % perSector), next, Structure::kTable);
}

// The mini-table entry of a mini sector.
Fault MiniTableNext(FileState& f, std::uint32_t miniSector, std::uint32_t& next) {
  const std::uint64_t byteOffset = static_cast<std::uint64_t>(miniSector) * 4;
  std::uint32_t sector = 0;
  if (const Fault fault = ChainSector(f, f.miniTable, byteOffset >> f.sectorShift, sector); !fault.ok()) return fault;
  return ReadU32Cached(f, SectorOffset(f, sector) + (byteOffset & (f.sectorSize - 1)), next, Structure::kMiniTable);
}

// Whether `sector` may stand in a chain of this kind; the fault when it may not.
Fault CheckMember(const FileState& f, const Chain& c, std::uint32_t sector) {
  if (sector > kMaxRegularSector) return Damage(Defect::kBadSectorId, c.where);
  if (c.link == Link::kMiniTable) {
    // A mini sector must start inside the mini stream.
    if (static_cast<std::uint64_t>(sector) * kMiniSectorBytes >= f.miniStreamSize) {
      return Damage(Defect::kOutOfRange, c.where);
    }
    return kOk;
  }
  return SectorPresent(f, sector) ? kOk : MissingSector(f, sector, c.where);
}

char16_t UpperCase(char16_t u) {
  if (u >= u'a' && u <= u'z') return static_cast<char16_t>(u - (u'a' - u'A'));
  // The only characters outside ASCII whose upper case is ASCII. Every other character
  // keeps a value above ASCII under upper-casing, so without a full case table the
  // order is still exact whenever one of the names compared is ASCII.
  if (u == 0x0131) return u'I';  // dotless i
  if (u == 0x017F) return u'S';  // long s
  return u;
}

// The directory's order of `a` against the `count` units `b(i)`: fewer units first,
// then unit by unit after upper-casing. For names as stored and names as read alike.
template <typename Units>
int CompareUnits(std::u16string_view a, std::size_t count, Units b) {
  if (a.size() != count) return a.size() < count ? -1 : 1;
  for (std::size_t i = 0; i < count; ++i) {
    const char16_t x = UpperCase(a[i]);
    const char16_t y = UpperCase(b(i));
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

// The visited set of a directory walk: the entries read so far, by index. A descent
// visits a handful, held in place; a longer walk spills them into a bit set grown on
// demand. Only entries actually read are marked, so it grows with the directory present.
class VisitedEntries {
 public:
  bool Test(std::uint32_t i) const {
    if (spilled_) return i < bits_.size() * 64 && (bits_[i / 64] >> (i % 64) & 1) != 0;
    return std::find(few_.begin(), few_.begin() + count_, i) != few_.begin() + count_;
  }
  void Set(std::uint32_t i) {
    if (!spilled_ && count_ < few_.size()) {
      few_[count_++] = i;
      return;
    }
    if (!spilled_) {
      spilled_ = true;
      for (std::size_t k = 0; k < count_; ++k) Mark(few_[k]);
    }
    Mark(i);
  }

 private:
  void Mark(std::uint32_t i) {
    if (i / 64 >= bits_.size()) bits_.resize(std::max<std::size_t>(i / 64 + 1, 2 * bits_.size()));
    bits_[i / 64] |= std::uint64_t{1} << (i % 64);
  }

  std::array<std::uint32_t, 32> few_;
  std::size_t count_ = 0;
  bool spilled_ = false;
  std::vector<std::uint64_t> bits_;
};

// A directory entry as stored, read where it lies in the cache: the walks look at its
// name, type and siblings without decoding the rest. Valid until the next cache read.
struct RawEntry {
  std::span<const std::uint8_t> bytes;

  char16_t Unit(std::size_t i) const {
    return static_cast<char16_t>(bytes[kEntryNameAt + 2 * i] | bytes[kEntryNameAt + 2 * i + 1] << 8);
  }
  // Units before the first zero unit; the length field is not trusted. Four units are
  // looked at a time.
  std::size_t Units() const {
    constexpr std::uint64_t kLows = 0x0001000100010001u;
    constexpr std::uint64_t kHighs = 0x8000800080008000u;
    std::size_t n = 0;
    for (; n < kEntryNameUnits; n += 4) {
      std::uint64_t w;  // in whatever byte order: only whether a lane is zero matters
      std::memcpy(&w, bytes.data() + kEntryNameAt + 2 * n, sizeof w);
      if (((w - kLows) & ~w & kHighs) != 0) break;  // a zero unit among these four
    }
    while (n < kEntryNameUnits && Unit(n) != 0) ++n;
    return n;
  }
  bool IsStream() const { return bytes[kEntryTypeAt] == static_cast<std::uint8_t>(EntryType::kStream); }
  std::uint32_t Left() const { return U32At(bytes, kEntryLeftAt); }
  std::uint32_t Right() const { return U32At(bytes, kEntryRightAt); }
  // The directory's order of `name` against this entry's name (CompareNames(name, this)).
  int CompareTo(std::u16string_view name) const {
    return CompareUnits(name, Units(), [this](std::size_t i) { return Unit(i); });
  }
  // Whether this entry is named `name`: CompareTo(name) == 0, mostly decided by the
  // first unit.
  bool Named(std::u16string_view name) const {
    if (name.size() > kEntryNameUnits || (name.size() < kEntryNameUnits && Unit(name.size()) != 0)) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
      if (UpperCase(name[i]) != UpperCase(Unit(i)) || Unit(i) == 0) return false;
    }
    return true;
  }
};

// Where entry `index` lies, read through the cache.
Fault ReadRawEntry(FileState& f, std::uint32_t index, RawEntry& raw) {
  const std::uint64_t byteOffset = static_cast<std::uint64_t>(index) * kEntryBytes;
  const std::uint64_t position = byteOffset >> f.sectorShift;
  // No chain reaches past the sectors present; an index beyond them needs no walk.
  if (index > kMaxRegularSector || position >= f.sectorCount)
    return Damage(Defect::kOutOfRange, Structure::kDirectoryTree);
  std::uint32_t sector = 0;
  if (const Fault fault = ChainSector(f, f.directory, position, sector); !fault.ok()) return fault;
  const std::uint64_t at = SectorOffset(f, sector) + (byteOffset & (f.sectorSize - 1));
  return CachedView(f, at, kEntryBytes, Structure::kDirectoryChain, raw.bytes);
}

DirEntry Decode(std::uint32_t index, const RawEntry& raw, std::uint32_t sectorSize) {
  DirEntry e;
  e.index = index;
  e.nameUnits = static_cast<std::uint8_t>(raw.Units());
  for (std::size_t i = 0; i < e.nameUnits; ++i) e.name[i] = raw.Unit(i);
  e.type = raw.bytes[kEntryTypeAt];
  e.left = raw.Left();
  e.right = raw.Right();
  e.child = U32At(raw.bytes, kEntryChildAt);
  e.start = U32At(raw.bytes, kEntryStartAt);
  e.size = U64At(raw.bytes, kEntrySizeAt);
  if (sectorSize == 512) e.size &= 0xFFFFFFFFu;  // old writers left garbage in the high half
  return e;
}

// The descent that an ordered tree allows: a handful of entries. kOk when it finds the
// stream; otherwise why it stopped, which only matters when it is an I/O failure.
Fault Descend(FileState& f, std::u16string_view name, DirEntry& entry) {
  VisitedEntries seen;
  seen.Set(0);
  std::uint32_t current = f.rootChild;
  for (std::uint32_t steps = 0; steps < limits::kMaxDirectoryVisits && !seen.Test(current); ++steps) {
    RawEntry raw;
    if (const Fault fault = ReadRawEntry(f, current, raw); !fault.ok()) return fault;
    seen.Set(current);
    const int order = raw.CompareTo(name);
    if (order == 0) {
      if (!raw.IsStream()) break;
      entry = Decode(current, raw, f.sectorSize);
      return kOk;
    }
    current = order < 0 ? raw.Left() : raw.Right();
  }
  return Damage(Defect::kStreamNotFound, Structure::kDirectoryTree);
}

// When the descent finds nothing (damage, an unordered tree, a storage of that name):
// a walk of the whole sibling tree of the root's children, never into child storages,
// taking for each name the lowest-indexed match. Returns the first damage met (kOk
// when none); only a failed read ends the walk early.
Fault WalkRootChildren(FileState& f, std::span<const std::u16string_view> names, std::span<DirEntry> entries,
                       std::span<bool> found) {
  VisitedEntries seen;
  seen.Set(0);
  std::vector<std::uint32_t> pending = {f.rootChild};
  Fault damage;
  const auto note = [&damage](const Fault& fault) {
    if (damage.ok()) damage = fault;
  };
  for (std::uint32_t visits = 0; !pending.empty();) {
    const std::uint32_t current = pending.back();
    pending.pop_back();
    if (current == kNoStream) continue;
    if (seen.Test(current)) {
      note(Damage(Defect::kLoop, Structure::kDirectoryTree));
      continue;
    }
    if (++visits > limits::kMaxDirectoryVisits) {
      note(Damage(Defect::kOverLimit, Structure::kDirectoryTree));
      break;
    }
    RawEntry raw;
    if (const Fault fault = ReadRawEntry(f, current, raw); !fault.ok()) {
      if (fault.defect == Defect::kIo) return fault;
      note(fault);
      continue;
    }
    seen.Set(current);
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (raw.IsStream() && (!found[i] || current < entries[i].index) && raw.Named(names[i])) {
        entries[i] = Decode(current, raw, f.sectorSize);
        found[i] = true;
      }
    }
    pending.push_back(raw.Left());
    pending.push_back(raw.Right());
  }
  return damage;
}

// Appends `length` bytes at `offset` of the file to `out`.
Fault AppendFromFile(FileState& f, std::uint64_t offset, std::uint64_t length, StreamBytes& out) {
  const std::size_t at = out.size();
  out.resize(at + static_cast<std::size_t>(length));
  return ReadZeroFilled(f, offset, std::span<std::uint8_t>(out).subspan(at), Structure::kStreamChain);
}

// A stream in regular sectors, read in one call per run of consecutive sectors.
Fault ReadRegularStream(FileState& f, Chain& chain, std::uint64_t size, StreamBytes& out) {
  std::uint64_t runOffset = 0;
  std::uint64_t runBytes = 0;
  for (std::uint64_t position = 0; out.size() + runBytes < size; ++position) {
    std::uint32_t sector = 0;
    if (const Fault fault = ChainSector(f, chain, position, sector); !fault.ok()) return fault;
    const std::uint64_t offset = SectorOffset(f, sector);  // inside the file: the sector is present
    const std::uint64_t wanted = std::min<std::uint64_t>(f.sectorSize, size - out.size() - runBytes);
    const std::uint64_t held = std::min(wanted, f.fileSize - offset);
    if (runBytes > 0 && offset != runOffset + runBytes) {
      if (const Fault fault = AppendFromFile(f, runOffset, runBytes, out); !fault.ok()) return fault;
      runBytes = 0;
    }
    if (runBytes == 0) runOffset = offset;
    runBytes += held;
    if (held < wanted) break;  // the file ends inside this sector, and the stream with it
  }
  return runBytes > 0 ? AppendFromFile(f, runOffset, runBytes, out) : kOk;
}

// A stream in the mini stream, a run of mini sectors at a time: those that follow one
// another in the chain and in one sector of the file are copied together.
Fault ReadMiniStream(FileState& f, Chain& chain, std::uint64_t size, StreamBytes& out) {
  for (std::uint64_t position = 0; out.size() < size;) {
    std::uint32_t miniSector = 0;
    if (const Fault fault = ChainSector(f, chain, position, miniSector); !fault.ok()) return fault;
    const std::uint64_t at = static_cast<std::uint64_t>(miniSector) * kMiniSectorBytes;  // inside the mini stream
    std::uint32_t sector = 0;
    if (const Fault fault = ChainSector(f, f.miniStream, at >> f.sectorShift, sector); !fault.ok()) return fault;
    // The run: while more is wanted, the next mini sector of the chain is the next one of
    // the mini stream, and it lies in the same sector of the file.
    std::uint64_t run = kMiniSectorBytes;
    for (std::uint32_t next = 0; out.size() + run < size && (at + run) % f.sectorSize != 0; run += kMiniSectorBytes) {
      // A fault here is met again, in order, when its position is read.
      if (!ChainSector(f, chain, position + run / kMiniSectorBytes, next).ok() ||
          next != miniSector + run / kMiniSectorBytes) {
        break;
      }
    }
    position += run / kMiniSectorBytes;
    const std::uint64_t wanted = std::min(run, size - out.size());
    const std::uint64_t offset = SectorOffset(f, sector) + (at & (f.sectorSize - 1));
    const std::uint64_t held = std::min({wanted, f.miniStreamSize - at, offset < f.fileSize ? f.fileSize - offset : 0});
    std::span<const std::uint8_t> bytes;
    if (const Fault fault = CachedView(f, offset, static_cast<std::size_t>(held), Structure::kStreamChain, bytes);
        !fault.ok()) {
      return fault;
    }
    out.insert(out.end(), bytes.begin(), bytes.end());
    if (held < wanted) break;  // the mini stream or the file ends here, and the stream with it
  }
  return kOk;
}

}  // namespace

namespace {

// A chain or set that grew past this many entries gives its memory back when reset,
// rather than keep what one large document needed for every document after it.
constexpr std::size_t kKeptSlots = 1024;

// The slots a set starts with, and goes back to when cleared: most chains are short,
// and emptying the slots one long chain needed would cost every later one.
constexpr std::size_t kFirstSlots = 64;

// The slot of `sector` in a table of a power-of-two size: where it is, or the free slot
// where it belongs (linear probing from a multiplicative hash).
std::size_t SlotOf(const std::vector<std::uint32_t>& slots, std::uint32_t sector) {
  const std::size_t mask = slots.size() - 1;
  std::size_t i = (sector * 0x9E3779B1u) & mask;
  while (slots[i] != sector && slots[i] != kNoStream) i = (i + 1) & mask;
  return i;
}

}  // namespace

bool SectorSet::Insert(std::uint32_t sector) {
  if (2 * (used_ + 1) > slots_.size()) {
    // Grow to keep the load at most one half.
    std::vector<std::uint32_t> old = std::move(slots_);
    slots_.assign(std::max(kFirstSlots, 4 * old.size()), kNoStream);
    for (const std::uint32_t s : old) {
      if (s != kNoStream) slots_[SlotOf(slots_, s)] = s;
    }
  }
  const std::size_t i = SlotOf(slots_, sector);
  if (slots_[i] == sector) return false;
  slots_[i] = sector;
  ++used_;
  return true;
}

void SectorSet::Clear() {
  if (used_ == 0) return;
  if (slots_.capacity() > kKeptSlots) {
    std::vector<std::uint32_t>().swap(slots_);
  } else {
    slots_.assign(kFirstSlots, kNoStream);  // the memory stays
  }
  used_ = 0;
}

void Chain::Reset(Structure chainWhere, Link chainLink, std::uint32_t first) {
  where = chainWhere;
  link = chainLink;
  start = first;
  if (sectors.capacity() > kKeptSlots) std::vector<std::uint32_t>().swap(sectors);
  sectors.clear();
  passed.Clear();
  ascending = true;
  stop = kOk;
}

Fault ChainSector(FileState& f, Chain& c, std::uint64_t position, std::uint32_t& sector) {
  while (c.sectors.size() <= position) {
    if (!c.stop.ok()) return c.stop;
    std::uint32_t next = c.start;
    if (!c.sectors.empty()) {
      const std::uint32_t last = c.sectors.back();
      const Fault fault = c.link == Link::kIndex   ? IndexNext(f, last, next)
                          : c.link == Link::kTable ? TableNext(f, last, next)
                                                   : MiniTableNext(f, last, next);
      if (!fault.ok()) {
        if (fault.defect != Defect::kIo) c.stop = fault;
        return fault;
      }
    }
    if (next == kEndOfChain) return c.stop = Damage(Defect::kEndsEarly, c.where);
    if (const Fault fault = CheckMember(f, c, next); !fault.ok()) return c.stop = fault;
    // A chain whose sectors have only ascended cannot come back to one it passed: the
    // set of passed sectors is made only once it turns back, as few chains do.
    if (!c.ascending || (!c.sectors.empty() && next <= c.sectors.back())) {
      if (c.ascending) {
        c.ascending = false;
        for (const std::uint32_t passed : c.sectors) c.passed.Insert(passed);
      }
      if (!c.passed.Insert(next)) return c.stop = Damage(Defect::kLoop, c.where);
    }
    c.sectors.push_back(next);
  }
  sector = c.sectors[static_cast<std::size_t>(position)];
  return kOk;
}

int CompareNames(std::u16string_view a, std::u16string_view b) {
  return CompareUnits(a, b.size(), [b](std::size_t i) { return b[i]; });
}

Fault ReadDirEntry(FileState& f, std::uint32_t index, DirEntry& entry) {
  RawEntry raw;
  if (const Fault fault = ReadRawEntry(f, index, raw); !fault.ok()) return fault;
  entry = Decode(index, raw, f.sectorSize);
  return kOk;
}

CompoundFile::CompoundFile() = default;
CompoundFile::~CompoundFile() = default;
CompoundFile::CompoundFile(CompoundFile&&) noexcept = default;
CompoundFile& CompoundFile::operator=(CompoundFile&&) noexcept = default;

namespace detail {

void FileState::Reset(ByteSource& from) {
  source = &from;
  fileSize = from.Size();
  sectorShift = 9;
  sectorSize = 512;
  sectorCount = 0;
  tableSectorCount = 0;
  header.fill(0);
  lastTableIndex = UINT32_MAX;
  lastTableSector = 0;
  for (Chain* c : {&indexChain, &directory, &miniTable, &miniStream, &stream}) {
    c->Reset(Structure::kNone, Link::kTable, kEndOfChain);
  }
  miniStreamSize = 0;
  rootChild = kNoStream;
  cache.resize(limits::kCachedBlocks);
  for (CachedBlock& block : cache) {
    block.index = UINT64_MAX;
    block.lastUse = 0;
  }
  useClock = 0;
  lastBlock = 0;
}

}  // namespace detail

Fault OpenCompoundFile(ByteSource& source, CompoundFile& file) {
  if (!file.state) file.state = std::make_unique<FileState>();
  FileState& f = *file.state;
  f.Reset(source);
  std::array<std::uint8_t, kHeaderBytes>& head = f.header;
  if (const Fault fault = ReadCached(f, 0, head, Structure::kHeader); !fault.ok()) return fault;
  if (f.fileSize < kSignature.size() ||
      !std::equal(kSignature.begin(), kSignature.end(), head.begin() + kSignatureAt)) {
    return Damage(Defect::kNotCompoundFile, Structure::kHeader);
  }
  // A compound file cut inside its header.
  if (f.fileSize < kHeaderBytes) return Damage(Defect::kEndsEarly, Structure::kHeader);

  const std::uint16_t shift = U16At(head, kSectorShiftAt);
  if (shift != 9 && shift != 12) return Damage(Defect::kBadSectorSize, Structure::kHeader);
  f.sectorShift = shift;
  f.sectorSize = 1u << shift;
  f.sectorCount = f.fileSize > f.sectorSize ? (f.fileSize - 1) / f.sectorSize : 0;
  f.tableSectorCount = U32At(head, kTableSectorCountAt);
  const std::uint32_t firstIndexSector = U32At(head, kFirstIndexSectorAt);
  f.indexChain.Reset(Structure::kIndexChain, Link::kIndex,
                     firstIndexSector > kMaxRegularSector ? kEndOfChain : firstIndexSector);
  f.directory.Reset(Structure::kDirectoryChain, Link::kTable, U32At(head, kFirstDirectorySectorAt));
  f.miniTable.Reset(Structure::kMiniTable, Link::kTable, U32At(head, kFirstMiniTableSectorAt));

  DirEntry root;
  if (const Fault fault = ReadDirEntry(f, 0, root); !fault.ok()) return fault;
  if (root.type != static_cast<std::uint8_t>(EntryType::kRoot))
    return Damage(Defect::kNoRoot, Structure::kDirectoryTree);
  f.miniStream.Reset(Structure::kMiniStream, Link::kTable, root.start);
  f.miniStreamSize = root.size;
  f.rootChild = root.child;
  return kOk;
}

Fault FindRootStream(CompoundFile& file, std::u16string_view name, DirEntry& entry, AlsoNoted* also) {
  FileState& f = *file.state;
  if (const Fault fault = Descend(f, name, entry); fault.ok() || fault.defect == Defect::kIo) return fault;
  // The walk looks for the name and for the names noted on its way, the name first.
  const std::size_t more = also != nullptr ? also->names.size() : 0;
  std::vector<std::u16string_view> names = {name};
  std::vector<DirEntry> entries(1 + more);
  std::unique_ptr<bool[]> found = std::make_unique<bool[]>(1 + more);
  if (also != nullptr) names.insert(names.end(), also->names.begin(), also->names.end());
  const Fault damage = WalkRootChildren(f, names, entries, std::span<bool>(found.get(), 1 + more));
  if (damage.defect == Defect::kIo) return damage;
  if (also != nullptr) {
    also->walked = true;
    for (std::size_t i = 0; i < more; ++i) {
      also->found[i] = found[1 + i];
      if (found[1 + i]) also->entries[i] = entries[1 + i];
    }
  }
  if (found[0]) {
    entry = entries[0];
    return kOk;
  }
  return damage.ok() ? Damage(Defect::kStreamNotFound, Structure::kDirectoryTree) : damage;
}

Fault FindRootStreams(CompoundFile& file, std::span<const std::u16string_view> names, std::span<DirEntry> entries,
                      std::span<bool> found) {
  FileState& f = *file.state;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const Fault fault = Descend(f, names[i], entries[i]);
    if (fault.defect == Defect::kIo) return fault;
    found[i] = fault.ok();
  }
  return kOk;
}

namespace {

// The first `length` bytes of the stream, `length` at most its size; a stream is in
// the mini stream or in regular sectors by its size, not by what is read of it.
Fault ReadStreamBytes(FileState& f, const DirEntry& entry, std::uint64_t length, StreamBytes& out) {
  out.clear();
  const bool mini = entry.size < kMiniStreamCutoff;
  Chain& chain = f.stream;
  chain.Reset(Structure::kStreamChain, mini ? Link::kMiniTable : Link::kTable, entry.start);
  // Never more room than the file, or the mini stream, can fill.
  out.reserve(static_cast<std::size_t>(std::min(length, mini ? f.miniStreamSize : f.fileSize)));
  const Fault fault = mini ? ReadMiniStream(f, chain, length, out) : ReadRegularStream(f, chain, length, out);
  if (!fault.ok()) out.clear();
  return fault;
}

}  // namespace

Fault ReadStream(CompoundFile& file, const DirEntry& entry, std::uint64_t maxBytes, StreamBytes& out) {
  if (entry.size > maxBytes) {
    out.clear();
    return Damage(Defect::kStreamTooLarge, Structure::kNone);
  }
  return ReadStreamBytes(*file.state, entry, entry.size, out);
}

Fault ReadStreamStart(CompoundFile& file, const DirEntry& entry, std::uint64_t length, StreamBytes& out) {
  return ReadStreamBytes(*file.state, entry, std::min(length, entry.size), out);
}

}  // namespace readers::cfb
