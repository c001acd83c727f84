// Why a reading step failed: what went wrong, and in which structure of the document.
// Every reader step returns one. `docoutline` shows none of them (its failures are
// silent by design); the batch front end reports them and the tests assert them.
#pragma once

#include <cstdint>
#include <string>

namespace readers {

enum class Defect : std::uint8_t {
  kNone,
  // Opening the file.
  kNotFound,          // no such file, or a directory on its path is missing
  kPermissionDenied,  // the file or a directory on its path may not be read
  kNotRegularFile,    // a directory, FIFO, device or socket
  kLocked,            // another process holds a write lock on the file
  kIo,                // a system call failed: `error` holds the errno
  // The compound file.
  kNotCompoundFile,  // shorter than a header, or no signature
  kBadSectorSize,    // a sector size other than 512 or 4096 bytes
  kBadSectorId,      // a marker where a sector is needed, or a number beyond what the allocation table describes
  kOutOfRange,       // a table entry, directory entry or mini sector beyond what holds them
  kLoop,             // a chain or tree comes back to where it has already been
  kEndsEarly,        // a chain ends before the position or size needed, or the file before a structure
                     // (also a sector the table describes that starts past the end: a file cut short)
  kNoRoot,           // the first directory entry is not the root
  kStreamNotFound,   // no stream of that name among the root storage's children
  kStreamTooLarge,   // a property-set stream larger than the readers accept
  // The property set.
  kNoByteOrderMark,  // the stream does not start with the byte order 0xFFFE
  kNoSection,        // no section with the format identifier asked for
  kTableDoesNotFit,  // the section's header or property table runs past the section
  kNotPresent,       // the section holds no such property
  kRunsPastEnd,      // a value runs past the end of its section (or of the stream)
  kCountDoesNotFit,  // an element or byte count larger than the bytes that remain
  kUnknownType,      // a type code that is no property type, or one not allowed there
  kNestedVector,     // a vector inside a vector of variants
  // The package (a zip holding office XML).
  kNotPackage,         // a zip without package relationships (_rels/.rels)
  kNoRelationship,     // the package relationships name no extended-properties part
  kMissing,            // a record or part that must be there is not
  kUnsupportedMethod,  // an entry compressed otherwise than stored or deflated
  kEncrypted,          // an encrypted entry
  kBadData,            // deflated data that does not inflate
  kBadChecksum,        // an entry whose bytes do not give its CRC-32
  kNotWellFormed,      // XML that is not well-formed, or in an encoding not read
  kHasDoctype,         // XML with a document type declaration: refused, never expanded
  // Any.
  kOverLimit,  // a cap of limits.h: directory entries visited, bytes decoded together, XML depth
};

// The structure a step was reading.
enum class Structure : std::uint8_t {
  kNone,
  kFile,            // the file itself (opening it)
  kHeader,          // the compound file's header
  kIndexChain,      // the chain of index sectors that list the allocation-table sectors
  kTable,           // the allocation table
  kDirectoryChain,  // the chain of directory sectors
  kDirectoryTree,   // the tree of directory entries
  kMiniTable,       // the allocation table of mini sectors (and its chain)
  kMiniStream,      // the root's stream that holds the mini sectors (and its chain)
  kStreamChain,     // the chain of the stream asked for
  kPropertySet,     // the property-set stream's header and section list
  kSection,         // a section's header and property table
  kValue,           // one property value
  kZipEnd,          // a zip's end-of-central-directory record (and its ZIP64 records)
  kZipDirectory,    // a zip's central directory
  kRelationships,   // a package's relationships part (_rels/.rels)
  kProperties,      // a package's extended-properties part
};

struct [[nodiscard]] Fault {
  Defect defect = Defect::kNone;
  Structure where = Structure::kNone;
  int error = 0;  // the errno of a failed system call (kIo)

  bool ok() const { return defect == Defect::kNone; }
  friend bool operator==(const Fault&, const Fault&) = default;
};

inline constexpr Fault kOk{};

// The names of the enumerators, as short lower-case text: "directory chain", "loops".
const char* DefectText(Defect defect);
const char* StructureText(Structure where);

// One line for a person: "directory chain: loops", "read: Input/output error".
std::string Describe(const Fault& fault);

}  // namespace readers
