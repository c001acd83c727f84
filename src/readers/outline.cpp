#include "readers/outline.h"

#include "readers/utf16.h"

namespace readers {

std::int32_t GroupCount(const PROPVARIANT& v) {
  switch (v.vt) {
    case VT_I4: return v.lVal;
    case VT_INT: return v.intVal;
    case VT_UI4: return static_cast<std::int32_t>(v.ulVal);
    case VT_UINT: return static_cast<std::int32_t>(v.uintVal);
    case VT_I2: return v.iVal;
    case VT_UI2: return v.uiVal;
    case VT_I1: return static_cast<std::int8_t>(v.cVal);
    case VT_UI1: return v.bVal;
    default: return 0;
  }
}

std::int32_t GroupCountAt(std::span<const PROPVARIANT> pairs, std::uint64_t group) {
  const std::uint64_t at = 2 * group + 1;
  return at < pairs.size() ? GroupCount(pairs[static_cast<std::size_t>(at)]) : 0;
}

bool AppendHeadingText(std::span<const PROPVARIANT> pairs, std::uint64_t group, std::string& out) {
  const std::uint64_t at = 2 * group;
  if (at >= pairs.size()) return false;
  const PROPVARIANT& v = pairs[static_cast<std::size_t>(at)];
  if (v.vt == VT_LPSTR && v.pszVal != nullptr) {
    out += v.pszVal;
    return false;
  }
  if (v.vt != VT_LPWSTR) return false;
  out += Utf16ToUtf8(WideStringUnits(v.pwszVal));
  return true;
}

}  // namespace readers
