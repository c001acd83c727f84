// One document's record: what the batch front end found in it, or why it found nothing.
// Records are made by ReadRecord (read_record.h), the only code that touches the
// readers, and written out as JSON by FormatRecord (json.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace batch {

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

// A string as the document stores it: bytes in the section's code page, or UTF-8 that
// the readers already made (wide strings, and narrow ones in a code page 1200 section).
struct Text {
  std::string_view bytes;
  bool utf8 = false;
};

// The container the first bytes showed.
enum class Container : std::uint8_t { kNone, kCompoundFile, kZip };

// When the file last changed: seconds and nanoseconds since 1970-01-01 UTC.
struct FileTime {
  std::int64_t seconds = 0;
  std::uint32_t nanoseconds = 0;
};

struct Record {
  // Where a string lies in `strings`. Offsets fit: a record holds at most what a summary
  // stream of limits::kMaxPropertyStreamBytes decodes to.
  struct Span {
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
    bool utf8 = false;
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
  Container container = Container::kNone;
  std::optional<std::uint64_t> size;  // set when the file was reached, with mtime
  std::optional<FileTime> mtime;
  std::optional<std::uint16_t> codePage;  // as stored (unsigned); empty when absent or not reached
  bool hasHeadings = false;               // heading pairs were read (whatever the status)
  std::vector<Heading> headings;
  bool hasParts = false;  // document parts were read (whatever the status)
  std::vector<Span> parts;
  // Every heading and part, back to back: a hostile outline of half a million empty names
  // costs a few bytes per name here, not a string object each.
  std::string strings;

  void AddHeading(std::string_view bytes, bool utf8, std::int32_t count) {
    headings.push_back({Add(bytes, utf8), count});
  }
  void AddPart(std::string_view bytes, bool utf8) { parts.push_back(Add(bytes, utf8)); }
  Text TextOf(const Span& span) const {
    return Text{std::string_view(strings).substr(span.offset, span.size), span.utf8};
  }

  // Back to an empty record, keeping the storage for the next document.
  void Clear() {
    status = Status::kOk;
    detail.clear();
    container = Container::kNone;
    size.reset();
    mtime.reset();
    codePage.reset();
    hasHeadings = false;
    headings.clear();
    hasParts = false;
    parts.clear();
    strings.clear();
  }

 private:
  Span Add(std::string_view bytes, bool utf8) {
    const Span span{static_cast<std::uint32_t>(strings.size()), static_cast<std::uint32_t>(bytes.size()), utf8};
    strings.append(bytes);
    return span;
  }
};

}  // namespace batch
