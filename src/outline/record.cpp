#include "outline/record.h"

#include <array>
#include <span>

#include "readers/cfb/compound_file.h"
#include "readers/cfb/encryption.h"
#include "readers/cfb/property_set.h"
#include "readers/cfb/set_stream.h"
#include "readers/ooxml/package.h"
#include "readers/outline.h"
#include "readers/utf16.h"
#include "readers/values.h"
#include "outline/text.h"

namespace outline {

using namespace readers;

void Record::Clear() {
  status = Status::kOk;
  detail.clear();
  container = Container::kUnknown;
  size.reset();
  mtime.reset();
  codePage.reset();
  hasHeadings = false;
  headings.clear();
  hasParts = false;
  parts.clear();
  strings.clear();
}

struct ReaderState::Held {
  cfb::CompoundFile file;
  cfb::SetStream set;
  ooxml::Package package;
  TextDecoder decoder;
  std::string heading;  // one heading's stored bytes, before they are decoded
};

ReaderState::ReaderState() : held_(std::make_unique<Held>()) {}
ReaderState::~ReaderState() = default;

void RecordFault(const Fault& fault, Record& record) {
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
      record.detail = Describe(fault);
      break;
    default:
      record.status = Status::kDamaged;
      record.detail = Describe(fault);
      break;
  }
}

namespace {

// Headings and counts by the outline's rules, decoded from `codePage`; a narrow string
// is as stored, and in a code page 1200 section (`utf8`) the readers made it UTF-8.
void TakeHeadings(const PROPVARIANT& pairs, bool utf8, Record& record, ReaderState::Held& held) {
  const std::span<const PROPVARIANT> elements(pairs.capropvar.pElems, pairs.capropvar.cElems);
  const std::size_t groups = elements.size() / 2 + elements.size() % 2;
  record.hasHeadings = true;
  record.headings.reserve(groups);
  for (std::size_t k = 0; k < groups; ++k) {
    held.heading.clear();
    const bool wide = AppendHeadingText(elements, k, held.heading);
    record.AddHeading(held.decoder.Decode(Text{held.heading, utf8 || wide}, record.codePage),
                      GroupCountAt(elements, k));
  }
}

void TakeParts(const PROPVARIANT& parts, bool utf8, Record& record, ReaderState::Held& held) {
  record.hasParts = true;
  if (parts.vt == (VT_VECTOR | VT_LPSTR)) {
    record.parts.reserve(parts.calpstr.cElems);
    for (const char* s : std::span<char* const>(parts.calpstr.pElems, parts.calpstr.cElems)) {
      record.AddPart(held.decoder.Decode(Text{s != nullptr ? s : "", utf8}, record.codePage));
    }
  } else {
    record.parts.reserve(parts.calpwstr.cElems);
    for (const char16_t* s : std::span<char16_t* const>(parts.calpwstr.pElems, parts.calpwstr.cElems)) {
      const std::string text = Utf16ToUtf8(WideStringUnits(s));
      record.AddPart(held.decoder.Decode(Text{text, true}, record.codePage));
    }
  }
}

// A value that did not decode makes the document damaged, naming the property; the first
// one met (heading pairs before parts) is the one named.
void ValueFault(const char* property, const Fault& fault, Record& record) {
  if (record.status == Status::kDamaged) return;
  record.status = Status::kDamaged;
  record.detail = std::string(property) + ": " + DefectText(fault.defect);
}

// A summary stream larger than this leaves no buffer behind in the thread that read it.
constexpr std::size_t kKeptStreamBytes = 64u << 10;

// A compound file whose outline was not read: encrypted, when its directory holds what
// only encryption leaves. Looked for only then, so that a document with an outline
// costs nothing more.
void CheckEncryption(cfb::CompoundFile& file, Record& record, const cfb::AlsoNoted& noted) {
  cfb::Encryption encryption = cfb::Encryption::kNone;
  if (const Fault fault = cfb::FindEncryption(file, encryption, &noted); !fault.ok()) {
    record.detail.clear();
    return RecordFault(fault, record);
  }
  if (encryption == cfb::Encryption::kNone) return;
  record.status = Status::kEncrypted;
  record.detail = cfb::EncryptionScheme(encryption);
}

// The outline of a compound file's Document Summary Information.
void ReadCompoundFile(ByteSource& source, Record& record, ReaderState::Held& held) {
  cfb::CompoundFile& file = held.file;
  Fault fault = cfb::OpenCompoundFile(source, file);
  if (!fault.ok()) return RecordFault(fault, record);
  cfb::SetStream& set = held.set;
  struct GiveBackLarge {  // when this document is done
    cfb::SetStream& set;
    ~GiveBackLarge() {
      if (set.bytes.capacity() > kKeptStreamBytes) set = cfb::SetStream();
    }
  } giveBack{set};
  // A file without the summary stream, or whose tree is out of order, has its root's
  // children walked in the looking; the streams encryption leaves are noted on that walk,
  // not looked for on another.
  std::array<cfb::DirEntry, cfb::kEncryptionStreams> encryptionEntries;
  std::array<bool, cfb::kEncryptionStreams> encryptionFound = {};
  cfb::AlsoNoted noted{cfb::EncryptionStreamNames(), encryptionEntries, encryptionFound};
  fault = cfb::ReadSetStream(file, FMTID_DocSummaryInformation, set, &noted);
  if (!fault.ok()) {
    RecordFault(fault, record);
    if (record.status == Status::kNoSummary) CheckEncryption(file, record, noted);
    return;
  }

  record.codePage = set.section.codePage;
  const bool utf8 = set.section.codePage == propset::kCodePageUnicode;
  const std::array<PROPID, 2> ids = {PIDDSI_HEADINGPAIR, PIDDSI_DOCPARTS};
  std::array<PROPVARIANT, 2> values{};
  std::array<Fault, 2> faults{};
  propset::ReadProperties(set.section, ids, values, faults);

  const PROPVARIANT& pairs = values[0];
  const PROPVARIANT& parts = values[1];
  bool outline = true;
  if (faults[0].ok() && pairs.vt == (VT_VECTOR | VT_VARIANT)) {
    TakeHeadings(pairs, utf8, record, held);
  } else {
    outline = false;
    if (!faults[0].ok() && faults[0].defect != Defect::kNotPresent) ValueFault("heading pairs", faults[0], record);
  }
  if (faults[1].ok() && (parts.vt == (VT_VECTOR | VT_LPSTR) || parts.vt == (VT_VECTOR | VT_LPWSTR))) {
    TakeParts(parts, utf8, record, held);
  } else {
    outline = false;
    if (!faults[1].ok() && faults[1].defect != Defect::kNotPresent) ValueFault("parts", faults[1], record);
  }
  ClearValues(values);
  if (!outline && record.status != Status::kDamaged) {
    record.status = Status::kNoOutline;
    CheckEncryption(file, record, noted);
  }
}

// The outline of an Office Open XML package's extended properties. Its text is UTF-8;
// it has no code page.
void ReadPackage(ByteSource& source, Record& record, ReaderState::Held& held) {
  std::array<PROPVARIANT, 2> values{};
  const Fault fault = ooxml::ReadPackageOutline(source, held.package, values[0], values[1]);
  if (!fault.ok()) return RecordFault(fault, record);
  if (values[0].vt != VT_EMPTY) TakeHeadings(values[0], true, record, held);
  if (values[1].vt != VT_EMPTY) TakeParts(values[1], true, record, held);
  if (!record.hasHeadings || !record.hasParts) record.status = Status::kNoOutline;
  ClearValues(values);
}

}  // namespace

void Read(ByteSource& source, Record& record, ReaderState& state) {
  Container container = Container::kUnknown;
  if (const Fault fault = IdentifyContainer(source, container); !fault.ok()) return RecordFault(fault, record);
  record.container = container;
  switch (container) {
    case Container::kCompoundFile: return ReadCompoundFile(source, record, state.held());
    case Container::kZip: return ReadPackage(source, record, state.held());
    case Container::kUnknown:
      record.status = Status::kUnknownFormat;
      record.detail = source.Size() == 0 ? "empty file" : "first bytes match no container";
      return;
  }
}

}  // namespace outline
