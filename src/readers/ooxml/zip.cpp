#include "ooxml/zip.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "byte_cursor.h"
#include "readers/limits.h"

namespace readers::ooxml {
namespace {

// Where the fields this reader uses lie, in bytes from the start of their record.
//
//   end of central directory (22 bytes, then a comment of up to 65,535)
//     0x00 signature PK 05 06 (4)      0x10 directory offset (4)
//     0x0C directory size (4)          0x14 comment length (2)
//   ZIP64 end locator (20 bytes, just before the end record)
//     0x00 signature PK 06 07 (4)      0x08 offset of the ZIP64 end record (8)
//   ZIP64 end record (56 bytes and more)
//     0x00 signature PK 06 06 (4)      0x30 directory offset (8)
//     0x28 directory size (8)
//   central directory entry (46 bytes, then name, extra field, comment)
//     0x00 signature PK 01 02 (4)      0x18 uncompressed size (4)
//     0x08 flags (2)                   0x1C name length (2)
//     0x0A method (2)                  0x1E extra field length (2)
//     0x10 CRC-32 (4)                  0x20 comment length (2)
//     0x14 compressed size (4)         0x2A local header offset (4)
//   local header (30 bytes, then name and extra field, then the data)
//     0x00 signature PK 03 04 (4)      0x1A name length (2)
//                                      0x1C extra field length (2)
//   ZIP64 extra field (id 1): the uncompressed size, compressed size and local header
//   offset, 8 bytes each, only for those of them the directory entry gives as FFFFFFFF
constexpr std::uint32_t kEndSignature = 0x06054B50;
constexpr std::size_t kEndBytes = 22;
constexpr std::size_t kEndDirectorySizeAt = 0x0C;
constexpr std::size_t kEndDirectoryOffsetAt = 0x10;
constexpr std::size_t kEndCommentLengthAt = 0x14;
constexpr std::size_t kMaxCommentBytes = 65535;
constexpr std::uint32_t kLocatorSignature = 0x07064B50;
constexpr std::size_t kLocatorBytes = 20;
constexpr std::size_t kLocatorEndOffsetAt = 0x08;
constexpr std::uint32_t kEnd64Signature = 0x06064B50;
constexpr std::size_t kEnd64Bytes = 56;
constexpr std::size_t kEnd64DirectorySizeAt = 0x28;
constexpr std::size_t kEnd64DirectoryOffsetAt = 0x30;
constexpr std::uint32_t kEntrySignature = 0x02014B50;
constexpr std::size_t kEntryBytes = 46;
constexpr std::size_t kEntryFlagsAt = 0x08;
constexpr std::size_t kEntryMethodAt = 0x0A;
constexpr std::size_t kEntryCrcAt = 0x10;
constexpr std::size_t kEntryCompressedSizeAt = 0x14;
constexpr std::size_t kEntrySizeAt = 0x18;
constexpr std::size_t kEntryNameLengthAt = 0x1C;
constexpr std::size_t kEntryExtraLengthAt = 0x1E;
constexpr std::size_t kEntryCommentLengthAt = 0x20;
constexpr std::size_t kEntryLocalHeaderAt = 0x2A;
constexpr std::uint32_t kLocalSignature = 0x04034B50;
constexpr std::size_t kLocalBytes = 30;
constexpr std::size_t kLocalNameLengthAt = 0x1A;
constexpr std::size_t kLocalExtraLengthAt = 0x1C;
constexpr std::uint16_t kZip64ExtraId = 1;
constexpr std::uint32_t kInZip64Extra = 0xFFFFFFFF;
constexpr std::uint16_t kFlagEncrypted = 1;
constexpr std::uint16_t kMethodStored = 0;
constexpr std::uint16_t kMethodDeflated = 8;

Fault Damage(Defect defect, Structure where) { return Fault{defect, where, 0}; }

bool Holds(const HeldBytes& held, std::uint64_t offset, std::uint64_t length) {
  return offset >= held.offset && offset - held.offset <= held.size && length <= held.size - (offset - held.offset);
}

std::span<const std::uint8_t> ViewOf(const HeldBytes& held, std::uint64_t offset, std::size_t length) {
  return std::span<const std::uint8_t>(held.bytes)
      .subspan(held.start + static_cast<std::size_t>(offset - held.offset), length);
}

// Refills `buffer` with up to `length` bytes of the file from `offset`, fewer at its end.
Fault Refill(ZipArchive& zip, HeldBytes& buffer, std::uint64_t offset, std::size_t length, Structure where) {
  const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(length, zip.fileSize - offset));
  if (buffer.bytes.size() < size) buffer.bytes.resize(size);
  buffer.start = 0;
  buffer.offset = offset;
  buffer.size = 0;
  if (const Fault f = ReadFault(zip.source->ReadAt(offset, std::span<std::uint8_t>(buffer.bytes).first(size)), where);
      !f.ok()) {
    return f;
  }
  buffer.size = size;
  return kOk;
}

// The file's bytes [offset, offset + length), which the caller keeps inside the file: from
// the tail when it holds them, else from `buffer`, which is refilled from `offset` with
// up to `ahead` bytes (at least `length`) when it does not.
Fault Bytes(ZipArchive& zip, HeldBytes& buffer, std::uint64_t offset, std::size_t length, std::size_t ahead,
            Structure where, std::span<const std::uint8_t>& out) {
  if (Holds(zip.tail, offset, length)) {
    out = ViewOf(zip.tail, offset, length);
    return kOk;
  }
  if (!Holds(buffer, offset, length)) {
    if (const Fault f = Refill(zip, buffer, offset, std::max(ahead, length), where); !f.ok()) return f;
  }
  out = ViewOf(buffer, offset, length);
  return kOk;
}

// What the tail or `buffer` holds from `offset` on, at most `length` bytes (at least
// one); `buffer` is refilled from `offset` when neither holds it. The caller keeps
// `offset` inside the file.
Fault Stretch(ZipArchive& zip, HeldBytes& buffer, std::uint64_t offset, std::size_t length, Structure where,
              std::span<const std::uint8_t>& out) {
  const HeldBytes* held = Holds(zip.tail, offset, 1) ? &zip.tail : Holds(buffer, offset, 1) ? &buffer : nullptr;
  if (held == nullptr) {
    if (const Fault f = Refill(zip, buffer, offset, limits::kPartChunkBytes, where); !f.ok()) return f;
    held = &buffer;
  }
  const auto available = static_cast<std::size_t>(held->offset + held->size - offset);
  out = ViewOf(*held, offset, std::min(length, available));
  return kOk;
}

// Reads the last `length` bytes of the file into the tail, keeping those it holds.
Fault ReadTail(ZipArchive& zip, std::size_t length) {
  HeldBytes& tail = zip.tail;
  const std::size_t room = kEndBytes + kMaxCommentBytes;
  if (tail.bytes.size() != room) tail.bytes.assign(room, 0);
  // The tail fills the buffer from its end, so that a longer tail only adds in front.
  const std::size_t had = tail.size;
  const std::span<std::uint8_t> more = std::span<std::uint8_t>(tail.bytes).subspan(room - length, length - had);
  if (const Fault f = ReadFault(zip.source->ReadAt(zip.fileSize - length, more), Structure::kZipEnd); !f.ok()) {
    return f;
  }
  tail.start = room - length;
  tail.size = length;
  tail.offset = zip.fileSize - length;
  return kOk;
}

// The tail's view of itself: its bytes from `offset` of the file on.
std::span<const std::uint8_t> TailFrom(const HeldBytes& tail, std::uint64_t offset) {
  return ViewOf(tail, offset, static_cast<std::size_t>(tail.offset + tail.size - offset));
}

// The end record in the tail: of the signatures that leave room for a record, the
// earliest whose comment reaches exactly the end of the file (`exact`), since a comment
// may hold a signature and even a record, but no writer puts bytes after the comment;
// else the last. False when the tail holds none.
bool FindEnd(const HeldBytes& tail, std::uint64_t fileSize, std::uint64_t& at, bool& exact) {
  const std::span<const std::uint8_t> bytes = TailFrom(tail, tail.offset);
  if (bytes.size() < kEndBytes) return false;
  const std::size_t last = bytes.size() - kEndBytes;  // the last place a record fits
  bool found = false;
  exact = false;
  // Forward, from one 'P' to the next: the search the C library does fastest.
  for (std::size_t i = 0; i <= last;) {
    const void* p = std::memchr(bytes.data() + i, 'P', last + 1 - i);
    if (p == nullptr) break;
    i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(p) - bytes.data());
    if (U32At(bytes, i) == kEndSignature) {
      at = tail.offset + i;  // the last so far
      found = true;
      if (at + kEndBytes + U16At(bytes, i + kEndCommentLengthAt) == fileSize) {
        exact = true;  // the earliest that fits exactly: any later one lies in its comment
        break;
      }
    }
    ++i;
  }
  return found;
}

// The ZIP64 end record's directory, when a locator stands just before the end record.
Fault ReadZip64End(ZipArchive& zip, std::uint64_t endAt) {
  if (endAt < kLocatorBytes) return kOk;
  std::span<const std::uint8_t> locator;
  if (const Fault f =
          Bytes(zip, zip.window, endAt - kLocatorBytes, kLocatorBytes, kLocatorBytes, Structure::kZipEnd, locator);
      !f.ok()) {
    return f;
  }
  if (U32At(locator, 0) != kLocatorSignature) return kOk;
  const std::uint64_t recordAt = U64At(locator, kLocatorEndOffsetAt);
  if (recordAt > zip.fileSize || zip.fileSize - recordAt < kEnd64Bytes) {
    return Damage(Defect::kOutOfRange, Structure::kZipEnd);
  }
  std::span<const std::uint8_t> record;
  if (const Fault f = Bytes(zip, zip.window, recordAt, kEnd64Bytes, kEnd64Bytes, Structure::kZipEnd, record); !f.ok()) {
    return f;
  }
  if (U32At(record, 0) != kEnd64Signature) return Damage(Defect::kMissing, Structure::kZipEnd);
  zip.directorySize = U64At(record, kEnd64DirectorySizeAt);
  zip.directoryOffset = U64At(record, kEnd64DirectoryOffsetAt);
  return kOk;
}

// Applies the ZIP64 extra field to the fields the directory entry gives as FFFFFFFF.
Fault ApplyZip64Extra(std::span<const std::uint8_t> extra, ZipEntry& e) {
  const bool wanted[] = {e.size == kInZip64Extra, e.compressedSize == kInZip64Extra, e.localHeader == kInZip64Extra};
  if (!wanted[0] && !wanted[1] && !wanted[2]) return kOk;
  ByteCursor c(extra);
  while (c.remaining() >= 4) {
    std::uint16_t id = 0;
    std::uint16_t length = 0;
    std::span<const std::uint8_t> data;
    if (!c.ReadU16(id) || !c.ReadU16(length) || !c.ReadBytes(length, data)) break;
    if (id != kZip64ExtraId) continue;
    ByteCursor values(data);
    std::uint64_t* const fields[] = {&e.size, &e.compressedSize, &e.localHeader};
    for (std::size_t i = 0; i < 3; ++i) {
      if (wanted[i] && !values.ReadU64(*fields[i])) return Damage(Defect::kRunsPastEnd, Structure::kZipDirectory);
    }
    return kOk;
  }
  return Damage(Defect::kMissing, Structure::kZipDirectory);
}

bool SameName(std::span<const std::uint8_t> stored, std::string_view name) {
  if (stored.size() != name.size()) return false;
  const auto lower = [](std::uint8_t b) { return b >= 'A' && b <= 'Z' ? static_cast<std::uint8_t>(b + 32) : b; };
  for (std::size_t i = 0; i < stored.size(); ++i) {
    if (lower(stored[i]) != lower(static_cast<std::uint8_t>(name[i]))) return false;
  }
  return true;
}

// Makes the inflater ready for a new stream: inflateReset puts its state back but
// leaves its input where the last stream stopped, and a stream that ended early (a
// fault, a sink that had enough, bytes after its last block) left some unread there.
bool StartInflater(ZipArchive& zip) {
  if (!zip.inflaterReady) {
    zip.inflater = z_stream{};
    if (inflateInit2(&zip.inflater, -MAX_WBITS) != Z_OK) return false;
    zip.inflaterReady = true;
  } else if (inflateReset(&zip.inflater) != Z_OK) {
    return false;
  }
  zip.inflater.next_in = nullptr;
  zip.inflater.avail_in = 0;
  return true;
}

Fault Inflate(ZipArchive& zip, const ZipEntry& e, std::uint64_t dataAt, Structure where, ChunkSink& sink,
              std::uint32_t& crc) {
  if (!StartInflater(zip)) return Damage(Defect::kOverLimit, where);
  zip.inflated.resize(limits::kPartChunkBytes);
  // The stream is read no further than its declared size, nor past what a part within
  // the limit can take; it ends where its last block ends, whatever follows.
  const std::uint64_t input = std::min(e.compressedSize, limits::kMaxPartInputBytes);
  std::uint64_t consumed = 0;
  std::uint64_t produced = 0;
  for (;;) {
    if (zip.inflater.avail_in == 0 && consumed < input) {
      const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(limits::kPartChunkBytes, input - consumed));
      std::span<const std::uint8_t> chunk;
      if (const Fault f = Stretch(zip, zip.chunk, dataAt + consumed, length, where, chunk); !f.ok()) return f;
      consumed += chunk.size();
      zip.inflater.next_in = const_cast<Bytef*>(chunk.data());  // zlib reads through it only
      zip.inflater.avail_in = static_cast<uInt>(chunk.size());
    }
    zip.inflater.next_out = zip.inflated.data();
    zip.inflater.avail_out = static_cast<uInt>(zip.inflated.size());
    const int result = inflate(&zip.inflater, Z_NO_FLUSH);
    const std::size_t out = zip.inflated.size() - zip.inflater.avail_out;
    produced += out;
    if (produced > limits::kMaxPartBytes) return Damage(Defect::kStreamTooLarge, where);
    if (out > 0) {
      crc = static_cast<std::uint32_t>(crc32(crc, zip.inflated.data(), static_cast<uInt>(out)));
      if (const Fault f = sink.Take(std::span<const std::uint8_t>(zip.inflated).first(out)); !f.ok()) return f;
    }
    if (result == Z_STREAM_END) return kOk;
    if (result != Z_OK && result != Z_BUF_ERROR) return Damage(Defect::kBadData, where);
    // No progress with all the input given: the stream ends before its end, or it
    // goes on past what a part may take.
    if (zip.inflater.avail_in == 0 && consumed == input && out == 0) {
      return Damage(input < e.compressedSize ? Defect::kStreamTooLarge : Defect::kBadData, where);
    }
  }
}

}  // namespace

ZipArchive::~ZipArchive() {
  if (inflaterReady) inflateEnd(&inflater);
}

void ZipArchive::Reset(ByteSource& from) {
  source = &from;
  fileSize = from.Size();
  for (HeldBytes* held : {&tail, &window, &chunk}) {
    held->start = 0;
    held->size = 0;
    held->offset = fileSize;  // holds nothing: no range starts past the end
  }
  directoryOffset = 0;
  directorySize = 0;
  if (inflaterReady && !StartInflater(*this)) {
    inflateEnd(&inflater);
    inflaterReady = false;  // made anew for the next entry
  }
  // `inflated` is output space only: each entry overwrites what it uses of it.
}

Fault OpenZip(ByteSource& source, ZipArchive& zip) {
  zip.Reset(source);
  // The tail first; the whole reach of a comment only when the tail holds no end
  // record whose comment ends with the file.
  std::uint64_t endAt = 0;
  bool found = false;
  bool exact = false;
  for (const std::size_t want : {limits::kZipTailBytes, kEndBytes + kMaxCommentBytes}) {
    const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(want, zip.fileSize));
    if (length <= zip.tail.size) break;
    if (const Fault f = ReadTail(zip, length); !f.ok()) return f;
    found = FindEnd(zip.tail, zip.fileSize, endAt, exact);
    if (exact) break;
  }
  if (!found) return Damage(Defect::kMissing, Structure::kZipEnd);
  const std::span<const std::uint8_t> end = TailFrom(zip.tail, endAt);
  zip.directorySize = U32At(end, kEndDirectorySizeAt);
  zip.directoryOffset = U32At(end, kEndDirectoryOffsetAt);
  if (const Fault f = ReadZip64End(zip, endAt); !f.ok()) return f;
  if (zip.directoryOffset > zip.fileSize || zip.directorySize > zip.fileSize - zip.directoryOffset) {
    return Damage(Defect::kOutOfRange, Structure::kZipDirectory);
  }
  return kOk;
}

Fault FindEntry(ZipArchive& zip, std::string_view name, ZipEntry& entry, bool& found) {
  found = false;
  const std::uint64_t end = zip.directoryOffset + zip.directorySize;
  for (std::uint64_t at = zip.directoryOffset; at < end;) {
    const std::uint64_t left = end - at;
    if (left < kEntryBytes) return Damage(Defect::kRunsPastEnd, Structure::kZipDirectory);
    // Directory bytes are read ahead, a window at a time, but never past the directory.
    const auto ahead = static_cast<std::size_t>(std::min<std::uint64_t>(limits::kZipWindowBytes, left));
    std::span<const std::uint8_t> fixed;
    if (const Fault f = Bytes(zip, zip.window, at, kEntryBytes, ahead, Structure::kZipDirectory, fixed); !f.ok()) {
      return f;
    }
    if (U32At(fixed, 0) != kEntrySignature) return Damage(Defect::kMissing, Structure::kZipDirectory);
    const std::uint16_t nameLength = U16At(fixed, kEntryNameLengthAt);
    const std::uint16_t extraLength = U16At(fixed, kEntryExtraLengthAt);
    const std::uint64_t length = kEntryBytes + nameLength + extraLength + U16At(fixed, kEntryCommentLengthAt);
    if (length > left) return Damage(Defect::kRunsPastEnd, Structure::kZipDirectory);
    if (nameLength == name.size()) {
      std::span<const std::uint8_t> record;
      if (const Fault f = Bytes(zip, zip.window, at, kEntryBytes + nameLength + extraLength, ahead,
                                Structure::kZipDirectory, record);
          !f.ok()) {
        return f;
      }
      ByteCursor c(record);
      if (SameName(c.Sub(kEntryBytes, nameLength).bytes(), name)) {
        ZipEntry e;
        e.flags = U16At(record, kEntryFlagsAt);
        e.method = U16At(record, kEntryMethodAt);
        e.crc = U32At(record, kEntryCrcAt);
        e.compressedSize = U32At(record, kEntryCompressedSizeAt);
        e.size = U32At(record, kEntrySizeAt);
        e.localHeader = U32At(record, kEntryLocalHeaderAt);
        if (const Fault f = ApplyZip64Extra(c.Sub(kEntryBytes + nameLength, extraLength).bytes(), e); !f.ok()) {
          return f;
        }
        entry = e;
        found = true;
        return kOk;
      }
    }
    at += length;
  }
  return kOk;
}

Fault ReadEntry(ZipArchive& zip, const ZipEntry& e, Structure where, ChunkSink& sink) {
  if ((e.flags & kFlagEncrypted) != 0) return Damage(Defect::kEncrypted, where);
  if (e.method != kMethodStored && e.method != kMethodDeflated) return Damage(Defect::kUnsupportedMethod, where);
  if (e.size > limits::kMaxPartBytes) return Damage(Defect::kStreamTooLarge, where);
  if (e.localHeader > zip.fileSize || zip.fileSize - e.localHeader < kLocalBytes) {
    return Damage(Defect::kRunsPastEnd, where);
  }
  // The local header, read with the start of the data after it.
  std::span<const std::uint8_t> local;
  if (const Fault f = Bytes(zip, zip.chunk, e.localHeader, kLocalBytes, limits::kPartChunkBytes, where, local);
      !f.ok()) {
    return f;
  }
  if (U32At(local, 0) != kLocalSignature) return Damage(Defect::kMissing, where);
  const std::uint64_t dataAt =
      e.localHeader + kLocalBytes + U16At(local, kLocalNameLengthAt) + U16At(local, kLocalExtraLengthAt);
  if (dataAt > zip.fileSize || e.compressedSize > zip.fileSize - dataAt) return Damage(Defect::kRunsPastEnd, where);

  std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
  if (e.method == kMethodDeflated) {
    if (const Fault f = Inflate(zip, e, dataAt, where, sink, crc); !f.ok()) return f;
  } else {
    if (e.compressedSize > limits::kMaxPartBytes) return Damage(Defect::kStreamTooLarge, where);
    for (std::uint64_t done = 0; done < e.compressedSize;) {
      const auto length =
          static_cast<std::size_t>(std::min<std::uint64_t>(limits::kPartChunkBytes, e.compressedSize - done));
      std::span<const std::uint8_t> data;
      if (const Fault f = Stretch(zip, zip.chunk, dataAt + done, length, where, data); !f.ok()) return f;
      crc = static_cast<std::uint32_t>(crc32(crc, data.data(), static_cast<uInt>(data.size())));
      if (const Fault f = sink.Take(data); !f.ok()) return f;
      done += data.size();
    }
  }
  return crc == e.crc ? kOk : Damage(Defect::kBadChecksum, where);
}

}  // namespace readers::ooxml
