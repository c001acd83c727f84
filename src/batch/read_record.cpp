#include "batch/read_record.h"

#include <array>
#include <memory>
#include <span>

#include "docprops/heading_pairs.h"
#include "docprops/prop_variant.h"
#include "docprops/reader/byte_source.h"
#include "docprops/reader/compound_file.h"
#include "docprops/reader/fault.h"
#include "docprops/reader/property_set.h"
#include "docprops/reader/set_stream.h"
#include "docprops/reader/utf16.h"

namespace batch {
namespace {

using docprops::Defect;
using docprops::Fault;
using docprops::PROPVARIANT;

// The status of a document whose reading stopped at `fault`, before any value.
void Stop(const Fault& fault, Record& record) {
  switch (fault.defect) {
    case Defect::kNotFound: record.status = Status::kNotFound; break;
    case Defect::kPermissionDenied: record.status = Status::kPermissionDenied; break;
    case Defect::kNotRegularFile: record.status = Status::kNotRegularFile; break;
    case Defect::kLocked: record.status = Status::kLocked; break;
    case Defect::kNotCompoundFile: record.status = Status::kNotCompoundFile; break;
    case Defect::kStreamNotFound:
    case Defect::kNoSection: record.status = Status::kNoSummary; break;
    case Defect::kStreamTooLarge: record.status = Status::kTooLarge; break;
    case Defect::kIo:
      record.status = Status::kIoError;
      record.detail = docprops::Describe(fault);
      break;
    default:
      record.status = Status::kDamaged;
      record.detail = docprops::Describe(fault);
      break;
  }
}

// Headings and counts by the listing's rules: a narrow or wide string, otherwise an empty
// heading; a missing last count element counts 0. A narrow string is as stored; in a code
// page 1200 section the readers made it UTF-8.
void TakeHeadings(const PROPVARIANT& pairs, bool utf8, Record& record) {
  const std::span<const PROPVARIANT> elements(pairs.capropvar.pElems, pairs.capropvar.cElems);
  const PROPVARIANT noCount{};  // VT_EMPTY: GroupCount gives 0
  record.hasHeadings = true;
  record.headings.reserve(elements.size() / 2 + 1);
  for (std::size_t i = 0; i < elements.size(); i += 2) {
    const PROPVARIANT& text = elements[i];
    const std::int32_t count = docprops::GroupCount(i + 1 < elements.size() ? elements[i + 1] : noCount);
    if (text.vt == docprops::VT_LPSTR && text.pszVal != nullptr) {
      record.AddHeading(text.pszVal, utf8, count);
    } else if (text.vt == docprops::VT_LPWSTR) {
      record.AddHeading(docprops::Utf16ToUtf8(docprops::WideStringUnits(text.pwszVal)), true, count);
    } else {
      record.AddHeading({}, false, count);
    }
  }
}

void TakeParts(const PROPVARIANT& parts, bool utf8, Record& record) {
  record.hasParts = true;
  if (parts.vt == (docprops::VT_VECTOR | docprops::VT_LPSTR)) {
    record.parts.reserve(parts.calpstr.cElems);
    for (const char* s : std::span<char* const>(parts.calpstr.pElems, parts.calpstr.cElems)) {
      record.AddPart(s != nullptr ? s : "", utf8);
    }
  } else {
    record.parts.reserve(parts.calpwstr.cElems);
    for (const char16_t* s : std::span<char16_t* const>(parts.calpwstr.pElems, parts.calpwstr.cElems)) {
      record.AddPart(docprops::Utf16ToUtf8(docprops::WideStringUnits(s)), true);
    }
  }
}

// A value that did not decode makes the document damaged, naming the property; the first
// one met (heading pairs before parts) is the one named.
void ValueFault(const char* property, const Fault& fault, Record& record) {
  if (record.status == Status::kDamaged) return;
  record.status = Status::kDamaged;
  record.detail = std::string(property) + ": " + docprops::DefectText(fault.defect);
}

}  // namespace

void ReadRecord(const char* path, Record& record) {
  record.Clear();
  std::unique_ptr<docprops::ByteSource> source;
  Fault fault = docprops::OpenSource(path, source);
  if (!fault.ok()) return Stop(fault, record);
  docprops::cfb::CompoundFile file;
  fault = docprops::cfb::OpenCompoundFile(*source, file);
  if (!fault.ok()) return Stop(fault, record);
  docprops::SetStream set;
  fault = docprops::ReadSetStream(file, docprops::FMTID_DocSummaryInformation, set);
  if (!fault.ok()) return Stop(fault, record);

  record.codePage = set.section.codePage;
  const bool utf8 = set.section.codePage == 1200;
  const std::array<docprops::PROPID, 2> ids = {docprops::PIDDSI_HEADINGPAIR, docprops::PIDDSI_DOCPARTS};
  std::array<PROPVARIANT, 2> values{};
  std::array<Fault, 2> faults{};
  docprops::propset::ReadProperties(set.section, ids, values, faults);

  const PROPVARIANT& pairs = values[0];
  const PROPVARIANT& parts = values[1];
  bool outline = true;
  if (faults[0].ok() && pairs.vt == (docprops::VT_VECTOR | docprops::VT_VARIANT)) {
    TakeHeadings(pairs, utf8, record);
  } else {
    outline = false;
    if (!faults[0].ok() && faults[0].defect != Defect::kNotPresent) ValueFault("heading pairs", faults[0], record);
  }
  if (faults[1].ok() && (parts.vt == (docprops::VT_VECTOR | docprops::VT_LPSTR) ||
                         parts.vt == (docprops::VT_VECTOR | docprops::VT_LPWSTR))) {
    TakeParts(parts, utf8, record);
  } else {
    outline = false;
    if (!faults[1].ok() && faults[1].defect != Defect::kNotPresent) ValueFault("parts", faults[1], record);
  }
  if (!outline && record.status != Status::kDamaged) record.status = Status::kNoOutline;
  docprops::FreePropVariantArray(static_cast<docprops::ULONG>(values.size()), values.data());
}

}  // namespace batch
