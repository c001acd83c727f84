// The adapter on the readers' previous interface, built only until the readers with typed
// reasons for every step are in this tree (see CMakeLists.txt). Its reasons are coarser:
// the previous interface reports fewer of them.
#include <memory>
#include <span>
#include <vector>

#include "batch/read_record.h"
#include "docprops/prop_variant.h"
#include "docprops/reader/byte_source.h"
#include "docprops/reader/compound_file.h"
#include "docprops/reader/limits.h"
#include "docprops/reader/property_set.h"
#include "docprops/reader/utf16.h"

namespace batch {
namespace {

using docprops::PROPVARIANT;

std::int32_t GroupCount(const PROPVARIANT& v) {
  switch (v.vt) {
    case docprops::VT_I4:
    case docprops::VT_UI4:
    case docprops::VT_INT:
    case docprops::VT_UINT: return v.lVal;
    case docprops::VT_I2: return v.iVal;
    case docprops::VT_I1: return static_cast<std::int8_t>(v.bVal);
    case docprops::VT_UI2: return v.uiVal;
    case docprops::VT_UI1: return v.bVal;
    default: return 0;
  }
}

Text Narrow(const char* s, bool utf8) { return Text{s != nullptr ? s : "", utf8}; }
Text Wide(const char16_t* s) { return Text{docprops::Utf16ToUtf8(docprops::WideStringUnits(s)), true}; }

void Damaged(Record& record, const char* detail) {
  record.status = Status::kDamaged;
  record.detail = detail;
}

}  // namespace

void ReadRecord(const char* path, Record& record) {
  record.Clear();
  std::unique_ptr<docprops::ByteSource> source;
  const docprops::Fault open = docprops::OpenSource(path, source);
  if (!open.ok()) {
    switch (open.defect) {
      case docprops::Defect::kNotFound: record.status = Status::kNotFound; break;
      case docprops::Defect::kPermissionDenied: record.status = Status::kPermissionDenied; break;
      case docprops::Defect::kNotRegularFile: record.status = Status::kNotRegularFile; break;
      case docprops::Defect::kLocked: record.status = Status::kLocked; break;
      default:
        record.status = Status::kIoError;
        record.detail = docprops::Describe(open);
    }
    return;
  }
  namespace cfb = docprops::cfb;
  cfb::CompoundFile file;
  cfb::Fault fault = cfb::OpenCompoundFile(*source, file);
  if (fault == cfb::Fault::kNotCompoundFile) {
    record.status = Status::kNotCompoundFile;
    return;
  }
  if (fault != cfb::Fault::kNone) return Damaged(record, "header: damaged");
  cfb::DirEntry entry;
  fault = cfb::FindRootStream(file, u"\005DocumentSummaryInformation", entry);
  if (fault == cfb::Fault::kNotFound) {
    record.status = Status::kNoSummary;
    return;
  }
  if (fault != cfb::Fault::kNone) return Damaged(record, "directory tree: damaged");
  std::vector<std::uint8_t> stream;
  fault = cfb::ReadStream(file, entry, docprops::limits::kMaxPropertyStreamBytes, stream);
  if (fault == cfb::Fault::kStreamTooLarge) {
    record.status = Status::kTooLarge;
    return;
  }
  if (fault != cfb::Fault::kNone) return Damaged(record, "stream chain: damaged");
  namespace propset = docprops::propset;
  propset::Section section;
  const propset::Fault found = propset::FindSection(stream, docprops::FMTID_DocSummaryInformation, section);
  if (found == propset::Fault::kSectionMissing) {
    record.status = Status::kNoSummary;
    return;
  }
  if (found != propset::Fault::kNone) return Damaged(record, "property set: no byte-order mark");
  record.codePage = section.codePage;  // 0 when absent, in this interface
  if (section.codePage == 0) record.codePage.reset();
  const bool utf8 = section.codePage == 1200;
  PROPVARIANT values[2] = {};
  std::uint64_t budget = section.bytes.size();
  const propset::Fault pf = propset::ReadProperty(section, docprops::PIDDSI_HEADINGPAIR, values[0], budget);
  const propset::Fault df = propset::ReadProperty(section, docprops::PIDDSI_DOCPARTS, values[1], budget);
  bool outline = true;
  if (pf == propset::Fault::kNone && values[0].vt == (docprops::VT_VECTOR | docprops::VT_VARIANT)) {
    record.hasHeadings = true;
    const std::span<const PROPVARIANT> elements(values[0].capropvar.pElems, values[0].capropvar.cElems);
    for (std::size_t i = 0; i < elements.size(); i += 2) {
      Heading& heading = record.headings.emplace_back();
      if (elements[i].vt == docprops::VT_LPSTR) heading.text = Narrow(elements[i].pszVal, utf8);
      if (elements[i].vt == docprops::VT_LPWSTR) heading.text = Wide(elements[i].pwszVal);
      heading.count = i + 1 < elements.size() ? GroupCount(elements[i + 1]) : 0;
    }
  } else {
    outline = false;
    if (pf == propset::Fault::kMalformed) Damaged(record, "heading pairs: malformed");
  }
  if (df == propset::Fault::kNone && values[1].vt == (docprops::VT_VECTOR | docprops::VT_LPSTR)) {
    record.hasParts = true;
    for (char* s : std::span<char* const>(values[1].calpstr.pElems, values[1].calpstr.cElems)) {
      record.parts.push_back(Narrow(s, utf8));
    }
  } else if (df == propset::Fault::kNone && values[1].vt == (docprops::VT_VECTOR | docprops::VT_LPWSTR)) {
    record.hasParts = true;
    for (char16_t* s : std::span<char16_t* const>(values[1].calpwstr.pElems, values[1].calpwstr.cElems)) {
      record.parts.push_back(Wide(s));
    }
  } else {
    outline = false;
    if (df == propset::Fault::kMalformed && record.status != Status::kDamaged) Damaged(record, "parts: malformed");
  }
  if (!outline && record.status != Status::kDamaged) record.status = Status::kNoOutline;
  docprops::FreePropVariantArray(2, values);
}

}  // namespace batch
