// The zip container under a package: its end record, its central directory, and the
// entries asked for by name. It reads the end of the file once (which holds the whole
// directory, and often the parts, of most packages), walks a directory that lies
// elsewhere through a window of fixed size, and reads an entry's local header and data
// in chunks: cost follows what the answer needs, never the archive's size.
//
// Guarantees: every read lies inside the file; every walk ends within the directory's
// bytes; memory is the same for any archive; an entry's data is checked against its
// CRC-32, never inflated past limits::kMaxPartBytes, and never read past
// limits::kMaxPartInputBytes of deflated bytes; nothing of one archive or entry is left
// for the next to read.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "readers/byte_source.h"
#include "readers/fault.h"

namespace readers::ooxml {

// An entry as the central directory gives it (ZIP64 fields applied).
struct ZipEntry {
  std::uint64_t localHeader = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t size = 0;  // as declared; never trusted to bound the inflating
  std::uint32_t crc = 0;
  std::uint16_t method = 0;
  std::uint16_t flags = 0;
};

// Bytes of the file held in memory, and where they came from.
struct HeldBytes {
  std::vector<std::uint8_t> bytes;
  std::size_t start = 0;     // where in `bytes` the file's bytes begin
  std::size_t size = 0;      // how many there are
  std::uint64_t offset = 0;  // where in the file they come from
};

// Receives an entry's data, inflated, in order; a fault stops the reading.
class ChunkSink {
 public:
  virtual Fault Take(std::span<const std::uint8_t> chunk) = 0;

 protected:
  ~ChunkSink() = default;
};

// An open archive. Kept from one document to the next, it keeps its buffers and its
// inflater, and nothing else: OpenZip starts every archive with Reset.
struct ZipArchive {
  ZipArchive() = default;
  ~ZipArchive();
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  // Makes this the archive `source` holds, as if no other had been read: every field,
  // the inflater's state and input among them; only the buffers' memory stays.
  void Reset(ByteSource& from);

  ByteSource* source = nullptr;
  std::uint64_t fileSize = 0;
  HeldBytes tail;    // the end of the file
  HeldBytes window;  // a directory stretch outside the tail
  HeldBytes chunk;   // an entry's local header and data
  std::uint64_t directoryOffset = 0;
  std::uint64_t directorySize = 0;
  z_stream inflater = {};
  bool inflaterReady = false;
  std::vector<std::uint8_t> inflated;  // one chunk of output
};

// Starts `zip` afresh on `source` (Reset), finds the end record (past a comment of up
// to 65,535 bytes, and through the ZIP64 records when present) and checks that the
// directory lies inside the file. Of several end-record signatures in the tail, the one
// whose comment reaches exactly the end of the file is the end record (a comment may
// hold the signature); when none does, the last one.
Fault OpenZip(ByteSource& source, ZipArchive& zip);

// The first entry, in directory order, whose name equals `name` with ASCII letters
// compared without regard to case. `found` says whether there is one; the fault is
// damage met in the directory on the way.
Fault FindEntry(ZipArchive& zip, std::string_view name, ZipEntry& entry, bool& found);

// Hands the entry's data to `sink`, inflated: stored and deflated entries only, not
// encrypted ones; the local header must lie in the file, the data must inflate to at
// most limits::kMaxPartBytes from at most limits::kMaxPartInputBytes (kStreamTooLarge
// otherwise, as for a larger declared size), and give the directory's CRC-32. A
// deflated stream ends where its last block ends: bytes after it, within the declared
// compressed size, are not read. Faults name `where`, the part being read.
Fault ReadEntry(ZipArchive& zip, const ZipEntry& entry, Structure where, ChunkSink& sink);

}  // namespace readers::ooxml
