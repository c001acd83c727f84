#include "readers/cfb/set_stream.h"

#include "readers/limits.h"

namespace readers::cfb {
namespace {

// The name of the stream that holds a property set; null for a set no stream holds.
const char16_t* StreamNameOf(const FMTID& fmtid) {
  if (fmtid == FMTID_SummaryInformation) return u"\u0005SummaryInformation";
  // The user-defined set is the second section of the document summary stream.
  if (fmtid == FMTID_DocSummaryInformation || fmtid == FMTID_UserDefinedProperties) {
    return u"\u0005DocumentSummaryInformation";
  }
  return nullptr;
}

}  // namespace

Fault ReadSetStream(CompoundFile& file, const FMTID& fmtid, SetStream& out, AlsoNoted* also) {
  out.bytes.clear();  // its memory is kept for the next set read into it
  out.section = propset::Section();
  const char16_t* name = StreamNameOf(fmtid);
  if (name == nullptr) return Fault{Defect::kStreamNotFound, Structure::kDirectoryTree, 0};
  DirEntry entry;
  if (const Fault fault = FindRootStream(file, name, entry, also); !fault.ok()) return fault;
  if (const Fault fault = ReadStream(file, entry, limits::kMaxPropertyStreamBytes, out.bytes); !fault.ok()) {
    return fault;
  }
  return propset::FindSection(out.bytes, fmtid, out.section);
}

}  // namespace readers::cfb
