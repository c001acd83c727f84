// The per-document scan: opens a document's Document Summary Information set, reads
// its outline properties and hands them to the heading-group listing.
#pragma once

namespace docprops {

// Scans one document. Reports nothing back: whatever the listing appended is in
// ReportText, and its echoes are already on the console. Every failure is silent and
// skips only what depends on it; every interface obtained is released exactly once, in
// reverse order of acquisition, and every value read is freed.
void ScanDocument(const char16_t* path);

}  // namespace docprops
