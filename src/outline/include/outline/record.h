// The outline of one document as a record: what the readers found in it, or why they
// found nothing. outline::Read is the one call that turns a document's bytes into its
// record, for compound files and Office Open XML packages alike; each front end only
// opens, loops and formats around it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "readers/byte_source.h"
#include "readers/container.h"
#include "readers/fault.h"

namespace outline {

using readers::ByteSource;
using readers::Container;
using readers::Fault;

// The fixed set of outcomes, one word each on output. The order is the order of the
// words in the manual page; a new outcome is a change of the output format.
enum class Status : std::uint8_t {
  kOk,                // heading pairs and parts read
  kNoOutline,         // the set reads; heading pairs or parts absent, or of a type not taken
  kNoSummary,         // no Document Summary Information stream, or no such section in it
  kNotFound,          // no such file
  kNotRegularFile,    // a directory, FIFO, device or socket: never opened for reading
  kPermissionDenied,  // the file (or a folder on its path) may not be read
  kLocked,            // another process holds a write lock on it
  kIoError,           // a system call failed (detail names it)
  kUnknownFormat,     // neither container read: no compound-file or zip signature, or a zip that is no package
  kDamaged,           // a structure of the container, the set or a value is broken (detail names it)
  kTooLarge,          // the summary stream is larger than the readers accept
  kEncrypted,         // the outline is encrypted: an encrypted package, or a summary held in an encrypted stream
};

inline constexpr std::string_view kStatusWords[] = {
    "ok",     "no-outline", "no-summary",     "not-found", "not-regular-file", "permission-denied",
    "locked", "io-error",   "unknown-format", "damaged",   "too-large",        "encrypted"};

inline std::string_view StatusWord(Status status) { return kStatusWords[static_cast<std::size_t>(status)]; }

// When a file last changed: seconds and nanoseconds since 1970-01-01 UTC.
struct FileTime {
  std::int64_t seconds = 0;
  std::uint32_t nanoseconds = 0;
};

struct Record {
  // Where a string lies in `strings`. Offsets fit: a record holds at most the UTF-8 of
  // what a summary stream of limits::kMaxPropertyStreamBytes or a part of
  // limits::kMaxPartBytes holds.
  struct Span {
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
  };
  struct Heading {
    Span text;
    std::int32_t count = 0;
  };

  Status status = Status::kOk;
  // What went wrong where the status alone does not say: the structure or call that
  // failed (kDamaged, kIoError), what the first bytes are (kUnknownFormat), the scheme
  // (kEncrypted, when the file states it). Empty otherwise.
  std::string detail;
  Container container = Container::kUnknown;  // as the first bytes showed; kUnknown also when not reached
  std::optional<std::uint64_t> size;          // set by the front end that opened a file, with mtime
  std::optional<FileTime> mtime;
  std::optional<std::uint16_t> codePage;  // as stored (unsigned); empty when absent, not reached, or a package
  bool hasHeadings = false;               // heading pairs were read (whatever the status)
  std::vector<Heading> headings;
  bool hasParts = false;  // document parts were read (whatever the status)
  std::vector<Span> parts;
  // Every heading and part as UTF-8, back to back: a hostile outline of half a million
  // empty names costs a few bytes per name here, not a string object each.
  std::string strings;

  std::string_view TextOf(const Span& span) const { return std::string_view(strings).substr(span.offset, span.size); }
  void AddHeading(std::string_view utf8, std::int32_t count) { headings.push_back({Add(utf8), count}); }
  void AddPart(std::string_view utf8) { parts.push_back(Add(utf8)); }

  // Back to an empty record, keeping the storage for the next document.
  void Clear();

 private:
  Span Add(std::string_view utf8) {
    const Span span{static_cast<std::uint32_t>(strings.size()), static_cast<std::uint32_t>(utf8.size())};
    strings.append(utf8);
    return span;
  }
};

// What one thread's reading keeps from one document to the next: the readers' caches
// and buffers and the code-page converters, so that once a few documents have been read
// the next one allocates none of them. Nothing else crosses documents: each is read as
// if it were the first. One per thread; it may move between threads between documents.
class ReaderState {
 public:
  ReaderState();
  ~ReaderState();
  ReaderState(const ReaderState&) = delete;
  ReaderState& operator=(const ReaderState&) = delete;

  struct Held;  // record.cpp
  Held& held() { return *held_; }

 private:
  std::unique_ptr<Held> held_;
};

// Reads the outline of the document `source` holds into `record`: its container, its
// status and the detail that goes with it, its code page, and its heading pairs and
// parts where read, as UTF-8 (converted from the document's code page). Sets everything
// but size and mtime, which come from whoever opened the file; call record.Clear() first
// for a new record. Costs what the answer needs: the reads of the structures on the way
// to the outline, never the whole document.
void Read(ByteSource& source, Record& record, ReaderState& state);

// The status (and detail) of a document whose reading stopped at `fault` before any
// value: how OpenSource's faults, and every reader's, read in a record.
void RecordFault(const Fault& fault, Record& record);

}  // namespace outline
