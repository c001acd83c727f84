#include "readers/utf16.h"

namespace readers {

std::string Utf16ToUtf8(std::span<const char16_t> units) {
  std::string out;
  EncodeUtf8(
      units.size(), [&](std::size_t i) { return units[i]; }, [&](char c) { out.push_back(c); });
  return out;
}

std::span<const char16_t> WideStringUnits(const char16_t* s) {
  if (s == nullptr) return {};
  std::size_t n = 0;
  while (s[n] != 0) ++n;
  return {s, n};
}

}  // namespace readers
