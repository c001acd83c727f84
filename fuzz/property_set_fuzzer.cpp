// The property-set stream decoder alone: the input is a stream's bytes. The section is
// looked up by both identifiers the summary stream holds, the six properties the scan
// asks for are decoded and freed.
//
// Each run also checks the decoder's promises: the section lies inside the stream and
// its property table inside the section; a failed read leaves VT_EMPTY; every string
// handed out is terminated and no longer than the stream could justify; vectors hold no
// more elements than the stream has room for; freeing leaves every record VT_EMPTY.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "readers/cfb/property_set.h"
#include "readers/values.h"

namespace {

using namespace readers;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "property_set: %s\n", what);
  std::abort();
}

volatile std::uint64_t g_sink = 0;

// Reads every byte of a string (the sanitizers catch a missing terminator) and returns
// its length in bytes.
std::size_t NarrowLength(const char* s) {
  if (s == nullptr) Fail("null narrow string");
  std::size_t n = 0;
  for (; s[n] != '\0'; ++n) g_sink = g_sink + static_cast<unsigned char>(s[n]);
  return n;
}
std::size_t WideLength(const char16_t* s) {
  if (s == nullptr) Fail("null wide string");
  std::size_t n = 0;
  for (; s[n] != 0; ++n) g_sink = g_sink + s[n];
  return 2 * n;
}

// Checks one decoded value against the stream's size. UTF-16 stored text grows by at
// most half when converted to UTF-8.
void CheckValue(const PROPVARIANT& v, std::size_t streamBytes, bool element) {
  const std::size_t textBound = streamBytes + streamBytes / 2;
  switch (v.vt) {
    case VT_LPSTR:
      if (NarrowLength(v.pszVal) > textBound) Fail("narrow string longer than the stream");
      break;
    case VT_LPWSTR:
      if (WideLength(v.pwszVal) > streamBytes) Fail("wide string longer than the stream");
      break;
    case VT_VECTOR | VT_LPSTR:
      if (element || v.calpstr.cElems > streamBytes / 4) Fail("narrow vector out of bounds");
      for (std::uint32_t i = 0; i < v.calpstr.cElems; ++i) {
        if (NarrowLength(v.calpstr.pElems[i]) > textBound) Fail("vector string longer than the stream");
      }
      break;
    case VT_VECTOR | VT_LPWSTR:
      if (element || v.calpwstr.cElems > streamBytes / 4) Fail("wide vector out of bounds");
      for (std::uint32_t i = 0; i < v.calpwstr.cElems; ++i) {
        if (WideLength(v.calpwstr.pElems[i]) > streamBytes) Fail("vector string longer than the stream");
      }
      break;
    case VT_VECTOR | VT_VARIANT:
      if (element || v.capropvar.cElems > streamBytes / 4) Fail("variant vector out of bounds");
      for (std::uint32_t i = 0; i < v.capropvar.cElems; ++i) CheckValue(v.capropvar.pElems[i], streamBytes, true);
      break;
    default:
      if ((v.vt & VT_VECTOR) != 0) Fail("vector of a type never decoded");
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> stream(data, size);
  static constexpr PROPID kIds[] = {PIDDSI_MANAGER,     PIDDSI_COMPANY,  PIDDSI_CATEGORY,
                                    PIDDSI_HEADINGPAIR, PIDDSI_DOCPARTS, PID_CODEPAGE};
  constexpr std::uint32_t kCount = sizeof kIds / sizeof kIds[0];
  for (const FMTID& fmtid : {FMTID_DocSummaryInformation, FMTID_UserDefinedProperties}) {
    propset::Section section;
    if (!propset::FindSection(stream, fmtid, section).ok()) continue;
    if (!section.bytes.empty() &&
        (section.bytes.data() < data || section.bytes.data() + section.bytes.size() > data + size)) {
      Fail("section outside the stream");
    }
    if (section.propertyCount != 0 && 8 + 8ull * section.propertyCount > section.bytes.size()) {
      Fail("property table outside the section");
    }
    PROPVARIANT values[kCount];
    Fault faults[kCount];
    propset::ReadProperties(section, kIds, values, faults);  // read together, as the scan does
    for (std::uint32_t i = 0; i < kCount; ++i) {
      if (!faults[i].ok() && (values[i].vt != VT_EMPTY || faults[i].where != Structure::kValue)) {
        Fail("a failed read left a value behind, or blamed something else");
      }
      CheckValue(values[i], size, false);
    }
    ClearValues(values);
    for (const PROPVARIANT& v : values) {
      if (v.vt != VT_EMPTY) Fail("freeing left a value behind");
    }
  }
  return 0;
}
