// The I/O boundary: where the readers get the document's bytes from. Files are read
// with positioned reads, never mapped or loaded whole; tests and fuzz targets put an
// in-memory source (or one that fails on purpose) in the file's place.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "readers/fault.h"

namespace readers {

// What ReadAt returns when the source ends before the range does: a file that shrank
// after it was opened. No system call failed, so this is no errno (those are positive);
// the readers take it as a file shorter than its structures say, which is damage.
inline constexpr int kSourceEnded = -1;

// The fault of ReadAt's result `error` while reading `where`: none for 0; a source that
// ended early is shorter than that structure says, which is damage (kEndsEarly); any
// other is the failed call's (kIo).
inline Fault ReadFault(int error, Structure where) {
  if (error == 0) return kOk;
  if (error == kSourceEnded) return Fault{Defect::kEndsEarly, where, 0};
  return Fault{Defect::kIo, where, error};
}

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // The number of bytes the source held when it was opened, fixed for its lifetime.
  virtual std::uint64_t Size() const = 0;
  // Fills `out` with the bytes at [offset, offset + out.size()); the caller keeps the
  // range inside Size(). Returns 0; kSourceEnded when the source no longer holds the
  // whole range; or the errno of a failed system call. `out` is then unspecified.
  virtual int ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
};

// A source over bytes that the caller keeps alive.
class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  int ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override;

 private:
  std::span<const std::uint8_t> bytes_;
};

// What the open learnt of a regular file: its size and the time of its last change
// (seconds and nanoseconds since 1970-01-01 UTC, as the file system keeps it).
struct FileStamp {
  std::uint64_t size = 0;
  std::int64_t seconds = 0;
  std::uint32_t nanoseconds = 0;
};

// When OpenSource looks at what a path names.
enum class Look : std::uint8_t {
  kAfterOpening,  // the open file: for a path already known to name a regular file
  kFirst,         // the path, before it is opened: only a regular file is then opened, so
                  // no FIFO or device ever is, and the look stands for the open file's
};

// Opens a document for reading only, as `out`. Succeeds only for a regular file, never
// blocks (a FIFO without a writer cannot hang a reader), and holds a shared read lock
// on the whole file for the source's lifetime: when another process holds a write
// lock, the open fails with kLocked, so a document is never read while a writer owns
// it. Faults are reported at Structure::kFile. `stamp`, when given, is set whenever the
// file was reached and found regular (also when it is locked), and reset otherwise;
// it comes from the one look `look` asks for. With Look::kFirst, a path replaced
// between the look and the open (someone renaming files under the reader) is read as
// what the open found: its reads then fail or end early, and the faults say so.
// Threads may read the same file at once: under the classic lock, which belongs to the
// process, a thread opening a file that another thread is reading waits until it is
// done, so that no close drops a lock under a reader; a thread must therefore not open
// a file again while it still holds a source of it.
Fault OpenSource(const char* path, std::unique_ptr<ByteSource>& out, std::optional<FileStamp>* stamp = nullptr,
                 Look look = Look::kAfterOpening);

// OpenSource for the file `name` in the folder open as `folder` (a descriptor of an open
// folder, which the caller keeps open for the call): the same look, lock and stamp, with
// `name` taken relative to the folder, so that a document is opened however long the
// whole path to it is. A replacement opener (SetSourceOpener) is given `name`.
Fault OpenSourceAt(int folder, const char* name, std::unique_ptr<ByteSource>& out,
                   std::optional<FileStamp>* stamp = nullptr, Look look = Look::kAfterOpening);

// Tests force the classic fcntl lock (true) on systems that have the open file's own,
// to run its code in every build; false takes the open file's own where the system
// has it. Returns the previous setting, for the test to restore.
bool SetClassicLock(bool classic);

// Tests and fuzz targets replace the file opener to serve documents from memory or to
// inject failures; a null source from the replacement reads as a missing file. Null
// restores the file opener. Returns the previous replacement.
using SourceOpener = std::unique_ptr<ByteSource> (*)(const char* path);
SourceOpener SetSourceOpener(SourceOpener opener);

}  // namespace readers
