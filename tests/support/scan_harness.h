// Runs the whole per-document scan over bytes held in memory: the document is served
// through the source seam, the echo is captured, and the report is returned fresh for
// every call.
#pragma once

#include <memory>
#include <span>
#include <string>

#include "doc_writer.h"
#include "document_scan.h"
#include "heading_groups.h"
#include "readers/byte_source.h"
#include "standard_output.h"

namespace scantest {

// The document the opener serves; null makes every open fail as a missing file would.
inline const testdoc::Bytes* g_served = nullptr;

inline std::unique_ptr<readers::ByteSource> ServeFromMemory(const char*) {
  if (g_served == nullptr) return nullptr;
  return std::make_unique<readers::MemorySource>(std::span<const std::uint8_t>(*g_served));
}

struct ScanResult {
  std::string report;  // ReportText after the scan
  std::string echo;    // what reached the console, CR LF line ends
};

// Runs the scan with `opener` turning every path into a source; the report and echo
// are returned, and ReportText is left empty.
inline ScanResult ScanWith(readers::SourceOpener opener) {
  const readers::SourceOpener previous = readers::SetSourceOpener(opener);
  ScanResult result;
  console::CaptureForTesting(&result.echo);
  docprops::ReportText.clear();
  docprops::ScanDocument(u"in-memory.doc");
  console::Flush();
  console::CaptureForTesting(nullptr);
  readers::SetSourceOpener(previous);
  result.report = docprops::ReportText;
  docprops::ReportText.clear();
  return result;
}

inline ScanResult Scan(const testdoc::Bytes* document) {
  g_served = document;
  ScanResult result = ScanWith(&ServeFromMemory);
  g_served = nullptr;
  return result;
}

inline std::string ReportOf(const testdoc::Bytes& document) { return Scan(&document).report; }

}  // namespace scantest
