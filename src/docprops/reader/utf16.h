// UTF-16 to UTF-8, as the readers hand wide text to narrow consumers.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace docprops {

// Converts UTF-16 units up to the first zero unit (or the end). An unpaired surrogate
// becomes U+FFFD.
std::string Utf16ToUtf8(std::span<const char16_t> units);

// The UTF-16 units stored as little-endian bytes, up to the first zero unit; an odd
// last byte is dropped.
std::u16string Utf16LeUnits(std::span<const std::uint8_t> bytes);

// Utf16ToUtf8 over little-endian bytes.
std::string Utf16LeBytesToUtf8(std::span<const std::uint8_t> bytes);

// The units of a NUL-terminated wide string (none for null).
std::span<const char16_t> WideStringUnits(const char16_t* s);

}  // namespace docprops
