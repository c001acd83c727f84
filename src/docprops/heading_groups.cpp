#include "heading_groups.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>

#include "readers/outline.h"
#include "standard_output.h"

namespace docprops {

std::string ReportText;

namespace {

constexpr std::string_view kLineEnd = "\r\n";

// The running part index moves in signed 32-bit arithmetic, wrapping as such.
std::int32_t Advance(std::int32_t index, std::int64_t by) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::int64_t>(index) + by));
}

}  // namespace

void EchoPartName(const char* name) {
  console::Write(name);
  console::Write("\n");
  console::Flush();
}

void ListHeadingGroups(const PROPVARIANT& headingPairs, const PROPVARIANT& docParts) {
  const std::span<const PROPVARIANT> pairs(headingPairs.capropvar.pElems, headingPairs.capropvar.cElems);
  const std::span<char* const> names(docParts.calpstr.pElems, docParts.calpstr.cElems);
  const std::uint32_t n = headingPairs.capropvar.cElems;
  std::int32_t index = 0;
  for (std::uint64_t pos = 0; pos < n; pos += 2) {
    const std::uint32_t p = static_cast<std::uint32_t>(pos);
    const bool listed = p == 0 || p == n - 4u || p == n - 2u;  // unsigned: below 4 groups only 0 can match
    const std::int32_t count = readers::GroupCountAt(pairs, pos / 2);
    if (!listed) {
      index = Advance(index, count);
      continue;
    }
    readers::AppendHeadingText(pairs, pos / 2, ReportText);
    ReportText += kLineEnd;
    for (std::int32_t i = 0; i < count;) {
      if (index < 0) {
        // Parts before the vector list nothing; skip them in one step.
        const std::int64_t skip = std::min<std::int64_t>(-static_cast<std::int64_t>(index), count - i);
        index = Advance(index, skip);
        i += static_cast<std::int32_t>(skip);
      } else if (static_cast<std::uint64_t>(index) >= names.size()) {
        // Past the end the index could only come back by wrapping, which takes more
        // than any count allows: the rest of the group lists nothing.
        index = Advance(index, count - i);
        break;
      } else {
        const char* name = names[static_cast<std::size_t>(index)];
        if (name == nullptr) name = "";
        ReportText += '\t';
        ReportText += name;
        ReportText += kLineEnd;
        EchoPartName(name);
        index = Advance(index, 1);
        ++i;
      }
    }
  }
}

}  // namespace docprops
