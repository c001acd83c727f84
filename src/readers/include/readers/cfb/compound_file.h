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
#include <memory>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "readers/byte_source.h"
#include "readers/fault.h"

namespace readers::cfb {

// Room that a read fills at once: growing it leaves the new bytes as they are instead of
// zeroing them first.
template <typename T>
struct FilledByReads : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = FilledByReads<U>;
  };
  using std::allocator<T>::allocator;
  template <typename U>
  void construct(U* at) noexcept {
    ::new (static_cast<void*>(at)) U;
  }
  template <typename U, typename... Args>
  void construct(U* at, Args&&... args) {
    ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
  }
};

// A stream's bytes as read from the file.
using StreamBytes = std::vector<std::uint8_t, FilledByReads<std::uint8_t>>;

enum class EntryType : std::uint8_t { kUnused = 0, kStorage = 1, kStream = 2, kRoot = 5 };

struct DirEntry {
  std::uint32_t index = 0;
  std::array<char16_t, 32> name = {};
  std::uint8_t nameUnits = 0;  // units before the first zero unit; the length field is not trusted
  std::uint8_t type = 0;
  std::uint32_t left = 0xFFFFFFFF;
  std::uint32_t right = 0xFFFFFFFF;
  std::uint32_t child = 0xFFFFFFFF;
  std::uint32_t start = 0xFFFFFFFE;
  std::uint64_t size = 0;  // only the low 32 bits in files with 512-byte sectors

  std::u16string_view Name() const { return std::u16string_view(name.data(), nameUnits); }
};

namespace detail {
struct FileState;
}

// An open compound file: what the reading has learnt of it so far. One may be opened
// again and again (one document after another); it then keeps the memory it has.
struct CompoundFile {
  CompoundFile();
  ~CompoundFile();
  CompoundFile(CompoundFile&&) noexcept;
  CompoundFile& operator=(CompoundFile&&) noexcept;

  std::unique_ptr<detail::FileState> state;
};

// Reads and checks the header and the root entry of the file `source` holds, which must
// outlive every later use of `file`.
Fault OpenCompoundFile(ByteSource& source, CompoundFile& file);

// Other names a lookup notes on its way: when FindRootStream has to walk the root's
// children (its own name was not found by descent), it looks for these on the same
// walk, so that whoever looks for them next (in a file without the stream most have)
// need not walk the children again. `walked` says whether it did; entries[i] is then
// the entry of names[i] where found[i].
struct AlsoNoted {
  std::span<const std::u16string_view> names;
  std::span<DirEntry> entries;
  std::span<bool> found;
  bool walked = false;
};

// Finds the stream entry of the given name among the root storage's children (never
// inside child storages). Names compare without regard to case. When the stream is not
// found, the fault is the first damage the lookup met, or kStreamNotFound in an intact
// tree.
Fault FindRootStream(CompoundFile& file, std::u16string_view name, DirEntry& entry, AlsoNoted* also = nullptr);

// Finds the streams of several names among the root storage's children, each by descent
// of the ordered tree: found[i] says whether names[i] is there, and entries[i] is then
// its entry. A cheap look for what most files lack; where the tree has shown itself out
// of order (FindRootStream had to walk it), take what AlsoNoted noted on that walk
// instead. Damage met on the way counts as absence; only a failed read is a fault.
Fault FindRootStreams(CompoundFile& file, std::span<const std::u16string_view> names, std::span<DirEntry> entries,
                      std::span<bool> found);

// Reads a stream: exactly the bytes the file holds of it. It is cut at the first byte
// that the file does not hold (the file ends inside one of its sectors) or, for a
// stream in the mini stream, at the first byte past the mini stream's size. A stream
// declared larger than maxBytes is refused unread (kStreamTooLarge).
Fault ReadStream(CompoundFile& file, const DirEntry& entry, std::uint64_t maxBytes, StreamBytes& out);

// Reads the first `length` bytes of a stream, or all of it when it is shorter, as
// ReadStream reads the whole: what a check of a stream's header needs, whatever the
// stream's size.
Fault ReadStreamStart(CompoundFile& file, const DirEntry& entry, std::uint64_t length, StreamBytes& out);

}  // namespace readers::cfb
