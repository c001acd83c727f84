// UTF-16 to UTF-8: wide text handed to consumers of narrow text.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace readers {

// Feeds `put` the UTF-8 bytes of UTF-16 units read by `unit(i)` for i below `count`,
// stopping at the first zero unit. An unpaired surrogate becomes U+FFFD.
template <typename Unit, typename Put>
void EncodeUtf8(std::size_t count, Unit unit, Put&& put) {
  const auto emit = [&put](char32_t cp) {
    if (cp < 0x80) {
      put(static_cast<char>(cp));
    } else if (cp < 0x800) {
      put(static_cast<char>(0xC0 | (cp >> 6)));
      put(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      put(static_cast<char>(0xE0 | (cp >> 12)));
      put(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      put(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      put(static_cast<char>(0xF0 | (cp >> 18)));
      put(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      put(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      put(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  };
  for (std::size_t i = 0; i < count; ++i) {
    const char16_t u = unit(i);
    if (u == 0) break;
    const bool high = u >= 0xD800 && u <= 0xDBFF;
    const char16_t after = i + 1 < count ? unit(i + 1) : char16_t{0};
    if (high && after >= 0xDC00 && after <= 0xDFFF) {
      emit(0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (static_cast<char32_t>(after) - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      emit(0xFFFD);
    } else {
      emit(u);
    }
  }
}

// Converts UTF-16 units up to the first zero unit (or the end).
std::string Utf16ToUtf8(std::span<const char16_t> units);

// The units of a NUL-terminated wide string (none for null).
std::span<const char16_t> WideStringUnits(const char16_t* s);

}  // namespace readers
