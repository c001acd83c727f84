// The I/O boundary: where the readers get the document's bytes from. Files are read
// with positioned reads, never mapped or loaded whole; tests and fuzz targets put an
// in-memory source (or one that fails on purpose) in the file's place.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace docprops {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // The number of bytes the source holds, fixed for its lifetime.
  virtual std::uint64_t Size() const = 0;
  // Fills `out` with the bytes at [offset, offset + out.size()); the caller keeps the
  // range inside Size(). False on an I/O failure (then `out` is unspecified).
  virtual bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
};

// A source over bytes that the caller keeps alive.
class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override;

 private:
  std::span<const std::uint8_t> bytes_;
};

// Opens a document for reading only. Succeeds only for a regular file, never blocks
// (a FIFO without a writer cannot hang the tool), and holds a shared read lock on the
// whole file for the source's lifetime: when another process holds a write lock, the
// open fails, so the document cannot be read while a writer owns it. Null on failure.
std::unique_ptr<ByteSource> OpenFileSource(const char* path);

// How the access layer turns a document path into a source. Tests and fuzz targets
// replace it to serve documents from memory or to inject failures; null restores the
// file opener. Returns the previous opener.
using SourceOpener = std::unique_ptr<ByteSource> (*)(const char* path);
SourceOpener SetSourceOpener(SourceOpener opener);
std::unique_ptr<ByteSource> OpenSource(const char* path);

}  // namespace docprops
