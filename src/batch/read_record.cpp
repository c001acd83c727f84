#include "read_record.h"

#include <array>
#include <memory>
#include <optional>
#include <span>

#include "readers/byte_source.h"
#include "readers/cfb/compound_file.h"
#include "readers/cfb/encryption.h"
#include "readers/cfb/property_set.h"
#include "readers/cfb/set_stream.h"
#include "readers/container.h"
#include "readers/fault.h"
#include "readers/ooxml/package.h"
#include "readers/outline.h"
#include "readers/utf16.h"
#include "readers/values.h"

namespace batch {
namespace {

using readers::Defect;
using readers::Fault;
using readers::PROPVARIANT;

// The status of a document whose reading stopped at `fault`, before any value.
void Stop(const Fault& fault, Record& record) {
  switch (fault.defect) {
    case Defect::kNotFound: record.status = Status::kNotFound; break;
    case Defect::kPermissionDenied: record.status = Status::kPermissionDenied; break;
    case Defect::kNotRegularFile: record.status = Status::kNotRegularFile; break;
    case Defect::kLocked: record.status = Status::kLocked; break;
    case Defect::kNotCompoundFile:
      record.status = Status::kUnknownFormat;
      record.detail = "first bytes match no container";
      break;
    case Defect::kNotPackage:
      record.status = Status::kUnknownFormat;
      record.detail = "zip without package relationships";
      break;
    case Defect::kStreamNotFound:
    case Defect::kNoSection:
    case Defect::kNoRelationship: record.status = Status::kNoSummary; break;
    case Defect::kStreamTooLarge: record.status = Status::kTooLarge; break;
    case Defect::kIo:
      record.status = Status::kIoError;
      record.detail = readers::Describe(fault);
      break;
    default:
      record.status = Status::kDamaged;
      record.detail = readers::Describe(fault);
      break;
  }
}

// Headings and counts by the outline's rules. A narrow string is as stored; in a code
// page 1200 section the readers made it UTF-8.
void TakeHeadings(const PROPVARIANT& pairs, bool utf8, Record& record) {
  const std::span<const PROPVARIANT> elements(pairs.capropvar.pElems, pairs.capropvar.cElems);
  const std::size_t groups = elements.size() / 2 + elements.size() % 2;
  record.hasHeadings = true;
  record.headings.reserve(groups);
  std::string text;
  for (std::size_t k = 0; k < groups; ++k) {
    text.clear();
    const bool wide = readers::AppendHeadingText(elements, k, text);
    record.AddHeading(text, utf8 || wide, readers::GroupCountAt(elements, k));
  }
}

void TakeParts(const PROPVARIANT& parts, bool utf8, Record& record) {
  record.hasParts = true;
  if (parts.vt == (readers::VT_VECTOR | readers::VT_LPSTR)) {
    record.parts.reserve(parts.calpstr.cElems);
    for (const char* s : std::span<char* const>(parts.calpstr.pElems, parts.calpstr.cElems)) {
      record.AddPart(s != nullptr ? s : "", utf8);
    }
  } else {
    record.parts.reserve(parts.calpwstr.cElems);
    for (const char16_t* s : std::span<char16_t* const>(parts.calpwstr.pElems, parts.calpwstr.cElems)) {
      record.AddPart(readers::Utf16ToUtf8(readers::WideStringUnits(s)), true);
    }
  }
}

// A value that did not decode makes the document damaged, naming the property; the first
// one met (heading pairs before parts) is the one named.
void ValueFault(const char* property, const Fault& fault, Record& record) {
  if (record.status == Status::kDamaged) return;
  record.status = Status::kDamaged;
  record.detail = std::string(property) + ": " + readers::DefectText(fault.defect);
}

// A summary stream larger than this leaves no buffer behind in the thread that read it.
constexpr std::size_t kKeptStreamBytes = 64u << 10;

}  // namespace

struct ReaderState::Held {
  readers::cfb::CompoundFile file;
  readers::cfb::SetStream set;
  readers::ooxml::Package package;
};

ReaderState::ReaderState() : held_(std::make_unique<Held>()) {}
ReaderState::~ReaderState() = default;

namespace {

// A compound file whose outline was not read: encrypted, when its directory holds what
// only encryption leaves. Looked for only then, so that a document with an outline
// costs nothing more.
void CheckEncryption(readers::cfb::CompoundFile& file, Record& record) {
  readers::cfb::Encryption encryption = readers::cfb::Encryption::kNone;
  if (const Fault fault = readers::cfb::FindEncryption(file, encryption); !fault.ok()) {
    record.detail.clear();
    return Stop(fault, record);
  }
  if (encryption == readers::cfb::Encryption::kNone) return;
  record.status = Status::kEncrypted;
  record.detail = readers::cfb::EncryptionScheme(encryption);
}

// The outline of a compound file's Document Summary Information.
void ReadCompoundFile(readers::ByteSource& source, Record& record, ReaderState::Held& held) {
  readers::cfb::CompoundFile& file = held.file;
  Fault fault = readers::cfb::OpenCompoundFile(source, file);
  if (!fault.ok()) return Stop(fault, record);
  readers::cfb::SetStream& set = held.set;
  struct GiveBackLarge {  // when this document is done
    readers::cfb::SetStream& set;
    ~GiveBackLarge() {
      if (set.bytes.capacity() > kKeptStreamBytes) set = readers::cfb::SetStream();
    }
  } giveBack{set};
  fault = readers::cfb::ReadSetStream(file, readers::FMTID_DocSummaryInformation, set);
  if (!fault.ok()) {
    Stop(fault, record);
    if (record.status == Status::kNoSummary) CheckEncryption(file, record);
    return;
  }

  record.codePage = set.section.codePage;
  const bool utf8 = set.section.codePage == 1200;
  const std::array<readers::PROPID, 2> ids = {readers::PIDDSI_HEADINGPAIR, readers::PIDDSI_DOCPARTS};
  std::array<PROPVARIANT, 2> values{};
  std::array<Fault, 2> faults{};
  readers::propset::ReadProperties(set.section, ids, values, faults);

  const PROPVARIANT& pairs = values[0];
  const PROPVARIANT& parts = values[1];
  bool outline = true;
  if (faults[0].ok() && pairs.vt == (readers::VT_VECTOR | readers::VT_VARIANT)) {
    TakeHeadings(pairs, utf8, record);
  } else {
    outline = false;
    if (!faults[0].ok() && faults[0].defect != Defect::kNotPresent) ValueFault("heading pairs", faults[0], record);
  }
  if (faults[1].ok() &&
      (parts.vt == (readers::VT_VECTOR | readers::VT_LPSTR) || parts.vt == (readers::VT_VECTOR | readers::VT_LPWSTR))) {
    TakeParts(parts, utf8, record);
  } else {
    outline = false;
    if (!faults[1].ok() && faults[1].defect != Defect::kNotPresent) ValueFault("parts", faults[1], record);
  }
  readers::ClearValues(values);
  if (!outline && record.status != Status::kDamaged) {
    record.status = Status::kNoOutline;
    CheckEncryption(file, record);
  }
}

// The outline of an Office Open XML package's extended properties. Its text is UTF-8;
// it has no code page.
void ReadPackage(readers::ByteSource& source, Record& record, ReaderState::Held& held) {
  std::array<PROPVARIANT, 2> values{};
  const Fault fault = readers::ooxml::ReadPackageOutline(source, held.package, values[0], values[1]);
  if (!fault.ok()) return Stop(fault, record);
  if (values[0].vt != readers::VT_EMPTY) TakeHeadings(values[0], true, record);
  if (values[1].vt != readers::VT_EMPTY) TakeParts(values[1], true, record);
  if (!record.hasHeadings || !record.hasParts) record.status = Status::kNoOutline;
  readers::ClearValues(values);
}

}  // namespace

void ReadRecord(const char* path, Record& record) {
  ReaderState state;
  ReadRecord(path, record, state);
}

void ReadRecord(const char* path, Record& record, ReaderState& state, bool lookFirst) {
  record.Clear();
  std::unique_ptr<readers::ByteSource> source;
  std::optional<readers::FileStamp> stamp;
  Fault fault =
      readers::OpenSource(path, source, &stamp, lookFirst ? readers::Look::kFirst : readers::Look::kAfterOpening);
  if (stamp) {
    record.size = stamp->size;
    record.mtime = FileTime{stamp->seconds, stamp->nanoseconds};
  }
  if (!fault.ok()) return Stop(fault, record);
  readers::Container container = readers::Container::kUnknown;
  fault = readers::IdentifyContainer(*source, container);
  if (!fault.ok()) return Stop(fault, record);
  switch (container) {
    case readers::Container::kCompoundFile:
      record.container = Container::kCompoundFile;
      return ReadCompoundFile(*source, record, state.held());
    case readers::Container::kZip:
      record.container = Container::kZip;
      return ReadPackage(*source, record, state.held());
    case readers::Container::kUnknown:
      record.status = Status::kUnknownFormat;
      record.detail = source->Size() == 0 ? "empty file" : "first bytes match no container";
      return;
  }
}

}  // namespace batch
