// The whole path from a document's bytes to what the tool prints: the bytes are served
// in the file's place, the scan runs as main() runs it, the echo is captured and the
// report is dropped after the checks.
//
// Beyond "no crash, no leak, no hang", every run checks what the scan promises:
//   - every interface obtained is released exactly once, in reverse order of
//     acquisition (the storage last, after the set storage it lent itself to);
//   - the report and the echo stay proportional to the input: each part name is listed
//     at most three times, so no stored count can inflate them.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "document_scan.h"
#include "heading_groups.h"
#include "property_access.h"
#include "readers/byte_source.h"
#include "standard_output.h"

namespace {

std::span<const std::uint8_t> g_input;

std::unique_ptr<readers::ByteSource> OpenInput(const char*) { return std::make_unique<readers::MemorySource>(g_input); }

struct Release {
  std::string name;
  docprops::ULONG remaining;
};
std::vector<Release> g_releases;

void RecordRelease(const char* name, docprops::ULONG remaining) { g_releases.push_back({name, remaining}); }

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "whole_document: %s\n", what);
  std::abort();
}

// The release sequences a scan may produce: nothing (the open failed), the set storage
// and the storage (no summary set), or all three.
bool ReleasesInReverseOrder(const std::vector<Release>& r) {
  const std::vector<Release> withoutSet = {{"IPropertySetStorage", 0}, {"IStorage", 1}, {"IStorage", 0}};
  const auto same = [](const std::vector<Release>& a, std::size_t from, const std::vector<Release>& b) {
    if (a.size() - from != b.size()) return false;
    for (std::size_t i = 0; i < b.size(); ++i) {
      if (a[from + i].name != b[i].name || a[from + i].remaining != b[i].remaining) return false;
    }
    return true;
  };
  if (r.empty()) return true;
  if (same(r, 0, withoutSet)) return true;
  return r.size() == 4 && r[0].name == "IPropertyStorage" && r[0].remaining == 0 && same(r, 1, withoutSet);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool installed = [] {
    readers::SetSourceOpener(&OpenInput);
    docprops::SetReleaseObserver(&RecordRelease);
    return true;
  }();
  (void)installed;

  g_input = std::span<const std::uint8_t>(data, size);
  g_releases.clear();
  docprops::ReportText.clear();
  std::string echo;
  console::CaptureForTesting(&echo);
  docprops::ScanDocument(u"fuzz-input");
  console::CaptureForTesting(nullptr);

  if (!ReleasesInReverseOrder(g_releases)) Fail("interfaces not released exactly once in reverse order");
  // A listed name costs at most its stored bytes plus a tab and a line end (three bytes
  // more for every two stored bytes when converted from UTF-16), three times over; its
  // echo the same with a CR added before each LF. Headings are bounded alike.
  const std::size_t bound = 16 * size + 64;
  if (docprops::ReportText.size() > bound) Fail("report out of proportion to the input");
  if (echo.size() > bound) Fail("echo out of proportion to the input");
  if (!echo.empty() && docprops::ReportText.empty()) Fail("names echoed without a report");
  docprops::ReportText.clear();
  docprops::ReportText.shrink_to_fit();
  return 0;
}
