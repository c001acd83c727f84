// The heading-group listing: the report text built from a document's heading pairs and
// document parts, and the echo of every listed part name.
#pragma once

#include <string>

#include "prop_variant.h"

namespace docprops {

// The report under construction: narrow bytes, only ever appended to; printed once
// after the scan.
extern std::string ReportText;

// Appends the first heading group and the last two (by position among the heading
// pairs) to ReportText: each heading's line, then one tab-indented line per part name,
// lines ending CR LF. Groups in between are stepped over, their counts still moving the
// running part index. Every listed name is echoed as its line is appended.
// Precondition: headingPairs is VT_VECTOR|VT_VARIANT and docParts VT_VECTOR|VT_LPSTR.
// Never reads outside either vector, and its cost does not depend on the counts stored.
void ListHeadingGroups(const PROPVARIANT& headingPairs, const PROPVARIANT& docParts);

// Writes a part name and a newline to the console and flushes it: each byte as the
// character of the same value.
void EchoPartName(const char* name);

}  // namespace docprops
